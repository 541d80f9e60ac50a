#include "support/BVLog.h"

#include "platform/defaults/BVPropertyList.h"
#include "support/BVBundle.h"
#include "support/BVLocalPaths.h"
#include "support/BVMainThread.h"
#include "support/BVOSDetect.h"
#include "support/BVWorkQueue.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <csignal>
#include <cstring>
#include <ctime>
#include <exception>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr uint64_t kRolloverBytes = 500000;
constexpr int kMaxWaitedWritesAtTermination = 10;
// The longest termination waits for the writes pending when it was called.
constexpr auto kTerminationWait = std::chrono::seconds(3);

std::atomic<int> s_crashFD {-1};
std::atomic<bool> s_writesSuspended {false};
std::mutex s_suspendMutex;
std::condition_variable s_suspendChanged;

// "2016-03-09 14:05:07 +0000" for the current time; the text is cached per second.
QString timestamp()
{
    thread_local time_t cachedSecond = -1;
    thread_local QString cachedText;
    const time_t now = std::time(nullptr);
    if (now != cachedSecond) {
        struct tm utc;
        gmtime_r(&now, &utc);
        char buffer[32];
        std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S +0000", &utc);
        cachedText = QString::fromLatin1(buffer);
        cachedSecond = now;
    }
    return cachedText;
}

void printLine(const QByteArray &text)
{
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fflush(stdout);
}

bool isDisabledValue(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::QString:
        return value.toString() == QLatin1String("1");
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return value.toLongLong() == 1;
    case QMetaType::Double:
        return value.toDouble() == 1.0;
    default:
        return false;
    }
}

const char *signalName(int sig)
{
    switch (sig) {
    case SIGSEGV:
        return "SIGSEGV";
    case SIGBUS:
        return "SIGBUS";
    case SIGILL:
        return "SIGILL";
    case SIGFPE:
        return "SIGFPE";
    case SIGABRT:
        return "SIGABRT";
    default:
        return "signal";
    }
}

} // namespace

// The process's last words: uncaught exceptions and fatal signals reach the log file before it ends.
class BVLogCrashHandler
{
public:
    static void install()
    {
        std::set_terminate(&onTerminate);
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = &onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND | SA_NODEFER;
        for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT})
            sigaction(sig, &action, nullptr);
    }

private:
    [[noreturn]] static void onTerminate()
    {
        QString reason = QStringLiteral("Uncaught exception");
        if (std::exception_ptr current = std::current_exception()) {
            try {
                std::rethrow_exception(current);
            } catch (const std::exception &e) {
                reason = QString::fromUtf8(e.what());
            } catch (...) {
                reason = QStringLiteral("Uncaught exception of unknown type");
            }
        }
        BVLog::appendLogAndPrint(reason);
        BVLog::finishWriting();
        std::signal(SIGABRT, SIG_DFL);
        std::abort();
    }

    // Only async-signal-safe calls: the entry goes straight to the open file descriptor.
    static void onSignal(int sig)
    {
        const int fd = s_crashFD.load();
        if (fd >= 0) {
            char line[160];
            time_t now = std::time(nullptr);
            struct tm utc;
            gmtime_r(&now, &utc);
            size_t n = std::strftime(line, sizeof line, "%Y-%m-%d %H:%M:%S +0000 - Fatal signal ", &utc);
            const char *name = signalName(sig);
            for (size_t i = 0; name[i] && n < sizeof line - 2; ++i)
                line[n++] = name[i];
            line[n++] = '\n';
            [[maybe_unused]] ssize_t written = write(fd, line, n);
            fsync(fd);
        }
        std::signal(sig, SIG_DFL);
        std::raise(sig);
    }
};

BVLog::BVLog()
    : m_writeQueue(std::make_unique<BVWorkQueue>(QStringLiteral("bv.log")))
{ }

BVLog *BVLog::sharedController()
{
    static BVLog *instance = [] {
        auto *log = new BVLog;
        if (QCoreApplication *app = QCoreApplication::instance()) {
            BVMainThread::async([] {
                QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit,
                    QCoreApplication::instance(), [] { BVLog::willTerminate(); });
            });
            Q_UNUSED(app);
        }
        BVLogCrashHandler::install();
        return log;
    }();
    return instance;
}

QString BVLog::appName() const
{
    std::lock_guard lock(m_stateMutex);
    return m_appName;
}

void BVLog::setAppName(const QString &name)
{
    std::lock_guard lock(m_stateMutex);
    m_appName = name;
}

QString BVLog::logFolder() const
{
    return BVLocalPaths::logDirectory(true) + QStringLiteral("/Brightvane");
}

QString BVLog::pathForGeneration(const QString &name, int generation) const
{
    return logFolder() + u'/' + name + u'.' + QString::number(generation) + QStringLiteral(".log");
}

QString BVLog::currentLogPath() const
{
    return pathForGeneration(settledName({}), 1);
}

int BVLog::pendingWrites() const
{
    std::lock_guard lock(m_pendingMutex);
    return int(m_pending.size()) + m_inFlight.load();
}

QString BVLog::settledName(const QString &name) const
{
    QString settled = appName();
    if (settled.isEmpty())
        settled = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    if (settled.isEmpty())
        settled = name;
    if (settled.isEmpty())
        settled = QStringLiteral("Unknown");
    return settled;
}

void BVLog::createNewLog(const QString &name)
{
    BVLog *log = sharedController();
    {
        std::lock_guard lock(log->m_createMutex);
        log->createNewLogLocked(name);
    }
}

void BVLog::createNewLogLocked(const QString &name)
{
    {
        // A new log after termination (tests, or a process that goes on) is written as before.
        std::lock_guard lock(m_pendingMutex);
        m_terminated.store(false);
    }
    {
        std::lock_guard lock(m_stateMutex);
        if (m_file) {
            std::fclose(m_file);
            m_file = nullptr;
            s_crashFD.store(-1);
        }
    }

    const QVariantMap global = BVPropertyList::readDictionary(BVPropertyList::globalPreferencesPath());
    if (isDisabledValue(global.value(QStringLiteral("disable-logging")))) {
        printLine("Logging is disabled\n");
        m_loggingDisabled.store(true);
        return;
    }

    const QString settled = settledName(name);
    setAppName(settled);
    m_bytesWritten.store(0);

    const QString folder = logFolder();
    if (!QDir().mkpath(folder)) {
        printLine(QStringLiteral("Unable to create folder %1.\n").arg(folder).toUtf8());
        return;
    }
    const QString current = pathForGeneration(settled, 1);
    if (QFileInfo::exists(current)) {
        QFile::remove(pathForGeneration(settled, 5));
        for (int n = 4; n >= 1; --n) {
            const QString from = pathForGeneration(settled, n);
            if (!QFileInfo::exists(from))
                continue;
            const QString to = pathForGeneration(settled, n + 1);
            if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0) {
                printLine(QStringLiteral("Unable to move file %1 to %2.\n").arg(from, to).toUtf8());
                return;
            }
        }
    }
    QSaveFile empty(current);
    if (!empty.open(QIODevice::WriteOnly) || !empty.commit()) {
        printLine(
            QStringLiteral("Unable to create log file %1 - %2\n").arg(current, empty.errorString()).toUtf8());
        return;
    }
    FILE *file = std::fopen(QFile::encodeName(current).constData(), "ae");
    if (!file)
        return;
    {
        std::lock_guard lock(m_stateMutex);
        if (m_file) // never two handles: the writer cannot open one meanwhile, but be sure
            std::fclose(m_file);
        m_file = file;
        s_crashFD.store(fileno(file));
    }

    const QString version = BVBundle::mainBundle().stringForKey(QStringLiteral("CFBundleVersion"));
    const double gigabytes
        = double(sysconf(_SC_PHYS_PAGES)) * double(sysconf(_SC_PAGESIZE)) / 1024.0 / 1024.0 / 1024.0;
    QStringList header;
    header << QStringLiteral("Log started: %1").arg(timestamp());
    if (!version.isEmpty())
        header << QStringLiteral("Version: %1").arg(version);
    header << QStringLiteral("Path: %1").arg(QCoreApplication::applicationFilePath());
    header << BVFormat::format("System: %@ %@, %li CPU(s), %0.2f GB RAM", BVOSDetect::systemName(),
        BVOSDetect::osxVersion(), long(std::thread::hardware_concurrency()), gigabytes);
    header << (sizeof(void *) == 8 ? QStringLiteral("Running in 64-bit mode")
                                   : QStringLiteral("Running in 32-bit mode"));

    // The new file starts with its header, ahead of anything queued: the writer is held off by
    // the creation lock meanwhile, so the header is written here, whoever creates the log.
    for (const QString &entry : header)
        writeEntry(entry);
    std::lock_guard lock(m_stateMutex);
    if (m_file)
        std::fflush(m_file);
}

void BVLog::queueMessage(const QString &message, bool mayWait)
{
    const QString trimmed = message.trimmed();
    if (trimmed.isEmpty())
        return;
    const int64_t length = trimmed.size();
    bool schedule;
    uint64_t sequence;
    int64_t queued;
    {
        std::lock_guard lock(m_pendingMutex);
        if (m_terminated.load()) {
            // Nothing is queued after termination: nobody would be left to write it.
            writeAfterTermination(trimmed);
            return;
        }
        queued = m_bytesInQueue.fetch_add(length) + length;
        sequence = ++m_queuedSequence;
        m_pending.push_back({trimmed, m_generation.load(), sequence});
        schedule = !m_drainScheduled;
        m_drainScheduled = true;
    }
    if (schedule) {
        // One drain job writes everything queued until then, so callers never pay for a job each.
        // The queue lives as long as the process: nothing that waits for a write holds on to it.
        m_writeQueue->async([this] { drain(); });
    }
    if (mayWait && message.size() >= 1 && message.size() <= 99 && queued <= 99
        && !BVMainThread::isMainThread() && !m_writeQueue->isCurrent())
        waitForWritten(sequence, std::chrono::steady_clock::time_point::max());
}

bool BVLog::waitForWritten(uint64_t sequence, std::chrono::steady_clock::time_point deadline)
{
    std::unique_lock lock(m_pendingMutex);
    const auto done = [&] { return m_writtenSequence >= sequence; };
    if (deadline == std::chrono::steady_clock::time_point::max()) {
        m_writtenChanged.wait(lock, done);
        return true;
    }
    return m_writtenChanged.wait_until(lock, deadline, done);
}

void BVLog::noteWritten(uint64_t sequence)
{
    {
        std::lock_guard lock(m_pendingMutex);
        m_writtenSequence = std::max(m_writtenSequence, sequence);
    }
    m_writtenChanged.notify_all();
}

// Runs on the write queue: writes pending messages in order until none is left.
void BVLog::drain()
{
    if (s_writesSuspended.load()) {
        std::unique_lock lock(s_suspendMutex);
        s_suspendChanged.wait(lock, [] { return !s_writesSuspended.load(); });
    }
    for (;;) {
        std::deque<PendingEntry> batch;
        {
            std::lock_guard lock(m_pendingMutex);
            if (m_pending.empty()) {
                m_drainScheduled = false;
                break;
            }
            batch.swap(m_pending);
            m_inFlight.store(int(batch.size()));
        }
        for (const PendingEntry &entry : batch) {
            performWrite(entry.message, entry.generation);
            m_inFlight.fetch_sub(1);
        }
        {
            std::lock_guard lock(m_stateMutex);
            // Flushed after every batch, so a crash loses nothing already written, and before
            // waiters are told, so that what they waited for is in the file.
            if (m_file)
                std::fflush(m_file);
        }
        noteWritten(batch.back().sequence);
    }
}

void BVLog::performWrite(const QString &message, uint64_t generation)
{
    const int64_t length = message.size();
    if (m_loggingDisabled.load() || generation != m_generation.load()) {
        m_bytesInQueue.fetch_sub(length);
        return;
    }
    // Log creation and writes exclude each other: a write never opens the file a creation is
    // about to rotate, nor a second handle beside the one it installs.
    std::lock_guard createLock(m_createMutex);
    if (m_terminated.load()) {
        m_bytesInQueue.fetch_sub(length);
        writeAfterTermination(message);
        return;
    }
    bool haveFile;
    {
        std::lock_guard lock(m_stateMutex);
        haveFile = m_file != nullptr;
    }
    if (!haveFile) {
        // settledName() takes m_stateMutex itself: ask before locking it.
        const QString path = pathForGeneration(settledName({}), 1);
        std::lock_guard lock(m_stateMutex);
        if (!m_file) {
            m_file = std::fopen(QFile::encodeName(path).constData(), "ae");
            if (m_file)
                s_crashFD.store(fileno(m_file));
        }
        if (!m_file) {
            printLine(QStringLiteral("Unable to log the following information: %1\n").arg(message).toUtf8());
            printLine("Unable to open log for output\n");
            m_bytesInQueue.fetch_sub(length);
            return;
        }
    }
    writeEntry(message);
    if (m_bytesWritten.load() >= kRolloverBytes) {
        createNewLogLocked(appName());
        writeEntry(QStringLiteral("Log truncated at 500KB"));
    }
    m_bytesInQueue.fetch_sub(length);
}

void BVLog::writeAfterTermination(const QString &message)
{
    if (m_loggingDisabled.load())
        return;
    const QByteArray entry = entryForMessage(message).toUtf8();
    std::lock_guard lock(m_stateMutex);
    if (!m_terminatedPath.isEmpty()) {
        if (FILE *file = std::fopen(QFile::encodeName(m_terminatedPath).constData(), "ae")) {
            const size_t written = std::fwrite(entry.constData(), 1, size_t(entry.size()), file);
            const bool closed = std::fclose(file) == 0;
            if (written == size_t(entry.size()) && closed)
                return;
        }
    }
    std::fwrite(entry.constData(), 1, size_t(entry.size()), stderr);
    std::fflush(stderr);
}

void BVLog::writeEntry(const QString &message)
{
    thread_local QByteArray entry;
    entry.clear();
    entry.append(timestamp().toLatin1());
    entry.append(" - ", 3);
    entry.append(message.toUtf8());
    entry.append('\n');
    std::lock_guard lock(m_stateMutex);
    if (!m_file)
        return;
    const size_t written = std::fwrite(entry.constData(), 1, size_t(entry.size()), m_file);
    if (written != size_t(entry.size()) && !m_loggingDisabled.load())
        printLine(QStringLiteral("Exception writing to log: %1\n")
                      .arg(QString::fromLocal8Bit(std::strerror(errno)))
                      .toUtf8());
    m_bytesWritten.fetch_add(written);
}

void BVLog::appendLog(const QString &message)
{
    sharedController()->queueMessage(message, true);
}

void BVLog::fastAppendLog(const QString &message)
{
    sharedController()->queueMessage(message, false);
}

void BVLog::appendLogAndPrint(const QString &message)
{
    const QString trimmed = message.trimmed();
    sharedController()->queueMessage(trimmed, true);
    printLine((consoleText(trimmed) + u'\n').toUtf8());
}

void BVLog::finishWriting()
{
    BVLog *log = sharedController();
    if (log->m_writeQueue->isCurrent())
        return;
    uint64_t sequence;
    {
        std::lock_guard lock(log->m_pendingMutex);
        sequence = log->m_queuedSequence;
    }
    log->waitForWritten(sequence, std::chrono::steady_clock::time_point::max());
}

void BVLog::willTerminate()
{
    BVLog *log = sharedController();
    if (log->m_writeQueue->isCurrent())
        return;
    const auto deadline = std::chrono::steady_clock::now() + kTerminationWait;
    uint64_t sequence;
    {
        std::lock_guard lock(log->m_pendingMutex);
        sequence = log->m_queuedSequence;
        if (log->m_queuedSequence - log->m_writtenSequence > uint64_t(kMaxWaitedWritesAtTermination)) {
            // Too much is pending to wait for at quit: every pending write is dropped.
            log->m_generation.fetch_add(1);
            for (const PendingEntry &entry : log->m_pending)
                log->m_bytesInQueue.fetch_sub(entry.message.size());
            log->m_pending.clear();
            log->m_writtenSequence = sequence;
        }
    }
    log->m_writtenChanged.notify_all();
    // Only what was pending at the call is waited for, and not for ever.
    if (!log->waitForWritten(sequence, deadline))
        std::fprintf(stderr,
            "Log: writes still pending at quit after %lld s; later entries follow directly\n",
            static_cast<long long>(kTerminationWait.count()));

    std::deque<PendingEntry> leftover;
    uint64_t lastQueued;
    {
        std::lock_guard createLock(log->m_createMutex);
        const QString current = log->currentLogPath();
        {
            std::lock_guard lock(log->m_pendingMutex);
            log->m_terminated.store(true);
            leftover.swap(log->m_pending);
            lastQueued = log->m_queuedSequence;
        }
        std::lock_guard lock(log->m_stateMutex);
        log->m_terminatedPath = QFileInfo::exists(current) ? current : QString();
        log->m_appName.clear();
        if (log->m_file) {
            std::fclose(log->m_file);
            log->m_file = nullptr;
            s_crashFD.store(-1);
        }
    }
    // Queued after the call: written here, in order, rather than left to a writer that may not
    // run again before the process ends.
    uint64_t last = 0;
    for (const PendingEntry &entry : leftover) {
        if (entry.generation == log->m_generation.load())
            log->writeAfterTermination(entry.message);
        log->m_bytesInQueue.fetch_sub(entry.message.size());
        last = entry.sequence;
    }
    if (last)
        log->noteWritten(last);
    // The writer's batch in hand goes the same way; it is not waited for past the deadline.
    log->waitForWritten(lastQueued, deadline);
}

void BVLog::setWritesSuspendedForTesting(bool suspended)
{
    {
        std::lock_guard lock(s_suspendMutex);
        s_writesSuspended.store(suspended);
    }
    s_suspendChanged.notify_all();
}

QString BVLog::entryForMessage(const QString &message)
{
    return timestamp() + QStringLiteral(" - ") + message + u'\n';
}

QString BVLog::consoleText(const QString &message)
{
    QString text = message;
    text.remove(QStringLiteral("%@"));
    text.remove(QChar(u'\0'));
    return text;
}
