// Playback engine figures beside mpv's on the same file in the same run: time to first picture,
// exact-seek latency, step latency (cached and uncached), dropped frames, position advance and CPU
// use at several rates, peak memory. The engine and mpv take turns on every measurement.
//
//   bv_engine_benchmark [--file PATH] [--play-seconds S] [--no-mpv] [--rates R,R,...] [--verbose]
//                       [--players N]
//
// `--players N` only measures memory: N players on the file, each seeking, stepping back and
// playing a little, as a window of several players does.
//
// `--rates` picks the rates played (default 1,-1,2,8,16,32; "none" plays none).
//
// Without --file a 60 s 1080p H.264 clip with a 48-frame GOP is generated (tools/bv-make-sample).
#include "platform/media/engine/MediaPlayer.h"
#include "platform/media/engine/MediaPlayerItem.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>
#include <QThread>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <numeric>
#include <random>
#include <vector>

namespace {

double nowMs()
{
    static QElapsedTimer timer;
    if (!timer.isValid())
        timer.start();
    return double(timer.nsecsElapsed()) / 1e6;
}

bool spinUntil(const std::function<bool()> &done, double timeoutMs)
{
    const double end = nowMs() + timeoutMs;
    while (!done()) {
        if (nowMs() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        QThread::usleep(100);
    }
    return true;
}

struct Summary
{
    double median = 0, worst = 0, first = 0;
};

// `run`: the values come in runs of that many consecutive operations; `first` is then the median
// of the first operation of each run.
Summary summarise(std::vector<double> values, size_t run = 0)
{
    Summary s;
    if (values.empty())
        return s;
    std::vector<double> firsts;
    for (size_t i = 0; i<values.size(); i += run> 0 ? run : values.size())
        firsts.push_back(values[i]);
    std::sort(firsts.begin(), firsts.end());
    s.first = firsts[firsts.size() / 2];
    std::sort(values.begin(), values.end());
    s.median = values[values.size() / 2];
    s.worst = values.back();
    return s;
}

double cpuSecondsSelf()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long residentKbSelf()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return 0;
}

long peakKbSelf()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// ---- mpv through its JSON IPC socket ---------------------------------------------------------

class Mpv
{
public:
    ~Mpv()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
    bool start()
    {
        m_socketPath
            = QDir::tempPath() + QStringLiteral("/bv-mpv-%1.sock").arg(QCoreApplication::applicationPid());
        QFile::remove(m_socketPath);
        m_process.start(QStringLiteral("mpv"),
            {QStringLiteral("--no-config"), QStringLiteral("--vo=null"), QStringLiteral("--ao=null"),
                QStringLiteral("--input-ipc-server=") + m_socketPath, QStringLiteral("--pause"),
                QStringLiteral("--idle"), QStringLiteral("--hr-seek=yes"), QStringLiteral("--really-quiet")});
        if (!m_process.waitForStarted(5000))
            return false;
        return spinUntil(
            [&] {
                m_socket.connectToServer(m_socketPath);
                return m_socket.waitForConnected(50);
            },
            5000);
    }
    qint64 pid() const { return m_process.processId(); }

    QJsonObject command(const QJsonArray &arguments)
    {
        const int id = ++m_requestId;
        send(QJsonObject {{QStringLiteral("command"), arguments}, {QStringLiteral("request_id"), id}});
        QJsonObject reply;
        waitFor(
            [&](const QJsonObject &message) {
                if (message.value(QStringLiteral("request_id")).toInt() == id) {
                    reply = message;
                    return true;
                }
                return false;
            },
            10000);
        return reply;
    }
    void send(const QJsonObject &message)
    {
        m_socket.write(QJsonDocument(message).toJson(QJsonDocument::Compact) + '\n');
        m_socket.flush();
    }
    // Sends a command and answers the milliseconds until `done` accepts a message after it.
    double timed(const QJsonArray &arguments, const std::function<bool(const QJsonObject &)> &done)
    {
        m_pending.clear();
        const double start = nowMs();
        send(QJsonObject {{QStringLiteral("command"), arguments}});
        return waitFor(done, 3000) ? nowMs() - start : 3000;
    }
    bool waitFor(const std::function<bool(const QJsonObject &)> &accept, int timeoutMs)
    {
        const double end = nowMs() + timeoutMs;
        while (nowMs() < end) {
            while (!m_pending.isEmpty()) {
                const QJsonObject message = m_pending.takeFirst();
                if (accept(message))
                    return true;
            }
            if (m_socket.bytesAvailable() == 0)
                m_socket.waitForReadyRead(20);
            m_buffer += m_socket.readAll();
            int newline;
            while ((newline = m_buffer.indexOf('\n')) >= 0) {
                m_pending.append(QJsonDocument::fromJson(m_buffer.left(newline)).object());
                m_buffer.remove(0, newline + 1);
            }
        }
        return false;
    }
    static bool isEvent(const QJsonObject &message, const char *name)
    {
        return message.value(QStringLiteral("event")).toString() == QLatin1String(name);
    }
    double property(const char *name)
    {
        return command(QJsonArray {QStringLiteral("get_property"), QString::fromLatin1(name)})
            .value(QStringLiteral("data"))
            .toDouble();
    }
    // CPU seconds and peak resident kilobytes of the mpv process.
    double cpuSeconds() const
    {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid()));
        if (!stat.open(QIODevice::ReadOnly))
            return 0;
        const QList<QByteArray> fields = stat.readAll().split(' ');
        return fields.size() > 15
            ? double(fields[13].toLongLong() + fields[14].toLongLong()) / double(sysconf(_SC_CLK_TCK))
            : 0;
    }
    long peakKb() const
    {
        QFile status(QStringLiteral("/proc/%1/status").arg(pid()));
        if (!status.open(QIODevice::ReadOnly))
            return 0;
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("VmHWM:"))
                return line.mid(6).trimmed().split(' ').first().toLong();
        return 0;
    }

private:
    QProcess m_process;
    QLocalSocket m_socket;
    QString m_socketPath;
    QByteArray m_buffer;
    QList<QJsonObject> m_pending;
    int m_requestId = 0;
};

// ---- the engine -------------------------------------------------------------------------------

struct Engine
{
    std::unique_ptr<MediaPlayer> player = std::make_unique<MediaPlayer>();
    std::shared_ptr<MediaPlayerItem> item;

    double open(const QString &path)
    {
        const double start = nowMs();
        item = MediaPlayerItem::create(path);
        player->replaceCurrentItem(item);
        spinUntil(
            [&] {
                return player->currentImage() != nullptr || item->status() == MediaPlayerItem::Status::Failed;
            },
            30000);
        return nowMs() - start;
    }
    double seek(const MediaTime &time)
    {
        bool done = false;
        const double start = nowMs();
        player->seekToTime(time, [&](bool) { done = true; });
        spinUntil([&] { return done; }, 30000);
        return nowMs() - start;
    }
    double step(int count)
    {
        bool done = false;
        const double start = nowMs();
        player->stepByCount(count, [&](bool) { done = true; });
        spinUntil([&] { return done; }, 30000);
        return nowMs() - start;
    }
};

void printRow(const char *what, const Summary &ours, const Summary &mpv, bool haveMpv, bool withFirst = false)
{
    std::printf("%-44s  engine median %7.2f ms  worst %7.2f ms", what, ours.median, ours.worst);
    if (withFirst)
        std::printf("  first %7.2f ms", ours.first); // median of the runs' first
    if (haveMpv) {
        std::printf(" | mpv median %7.2f ms  worst %7.2f ms", mpv.median, mpv.worst);
        if (withFirst)
            std::printf("  first %7.2f ms", mpv.first);
    }
    std::printf("\n");
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("SDL_AUDIODRIVER",
        qgetenv("SDL_AUDIODRIVER").isEmpty() ? QByteArray("dummy") : qgetenv("SDL_AUDIODRIVER"));
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QString path;
    double playSeconds = 30;
    bool useMpv = true;
    bool verbose = false;
    int players = 0;
    std::vector<double> rates {1.0, -1.0, 2.0, 8.0, 16.0, 32.0};
    const QStringList arguments = app.arguments();
    for (int i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--file") && i + 1 < arguments.size())
            path = arguments[++i];
        else if (arguments[i] == QLatin1String("--play-seconds") && i + 1 < arguments.size())
            playSeconds = arguments[++i].toDouble();
        else if (arguments[i] == QLatin1String("--no-mpv"))
            useMpv = false;
        else if (arguments[i] == QLatin1String("--verbose"))
            verbose = true;
        else if (arguments[i] == QLatin1String("--players") && i + 1 < arguments.size())
            players = arguments[++i].toInt();
        else if (arguments[i] == QLatin1String("--rates") && i + 1 < arguments.size()) {
            rates.clear();
            for (const QString &rate : arguments[++i].split(QLatin1Char(','), Qt::SkipEmptyParts))
                if (rate != QLatin1String("none"))
                    rates.push_back(rate.toDouble());
        }
    }
    if (path.isEmpty()) {
        QProcess tool;
        tool.start(QStringLiteral(BV_SOURCE_DIR "/tools/bv-make-sample"),
            {QStringLiteral("--variant"), QStringLiteral("movie"), QStringLiteral("--duration"),
                QStringLiteral("60"), QStringLiteral("--output"), QStringLiteral(BV_BENCHMARK_MEDIA_DIR),
                QStringLiteral("--name"), QStringLiteral("engine-60s.mov")});
        tool.waitForFinished(-1);
        path = QString::fromLocal8Bit(tool.readAllStandardOutput()).trimmed();
    }
    std::printf("file: %s\n", qPrintable(path));

    if (players > 0) {
        std::vector<std::unique_ptr<Engine>> engines;
        for (int i = 0; i < players; ++i) {
            engines.push_back(std::make_unique<Engine>());
            engines.back()->open(path);
        }
        const double seconds = engines.front()->item->duration().seconds();
        for (size_t i = 0; i < engines.size(); ++i) {
            Engine &e = *engines[i];
            for (double at : {0.7, 0.2, 0.45})
                e.seek(MediaTime::fromSeconds(seconds * at + double(i), 1000));
            for (int k = 0; k < 5; ++k)
                e.step(-1);
            e.player->setRate(1);
            spinUntil([] { return false; }, 3000);
            e.player->pause();
        }
        spinUntil([] { return false; }, 1000);
        const size_t cached = std::accumulate(engines.begin(), engines.end(), size_t(0),
            [](size_t sum, const std::unique_ptr<Engine> &e) { return sum + e->item->cacheBytes(); });
        // Decoded frames, converted pictures and idle pool buffers stay within the shared budget;
        // the rest (codec threads and their own pictures, demuxer read-ahead, libraries) is the
        // fixed overhead, here per player with the process's own start-up share included.
        const long peakMb = peakKbSelf() / 1024;
        const long budgetMb = long(MediaFrameCache::sharedBudget() >> 20);
        std::printf(
            "%d players: peak memory %ld MB, resident %ld MB; frame cache %zu MB of the shared %ld MB "
            "(%zu MB each); overhead beyond the budget %ld MB per player\n",
            players, peakMb, residentKbSelf() / 1024, cached >> 20, budgetMb,
            engines.front()->item->cacheBudget() >> 20, std::max(peakMb - budgetMb, 0L) / players);
        engines.clear();
        if (useMpv) {
            // The same work for as many mpv processes, one per player: the sum of their peaks.
            std::vector<std::unique_ptr<Mpv>> mpvs;
            const auto idle
                = [](const QJsonObject &message) { return Mpv::isEvent(message, "playback-restart"); };
            for (int i = 0; i < players; ++i) {
                mpvs.push_back(std::make_unique<Mpv>());
                Mpv &m = *mpvs.back();
                if (!m.start())
                    break;
                m.timed(QJsonArray {QStringLiteral("loadfile"), path}, idle);
                for (double at : {0.7, 0.2, 0.45})
                    m.timed(QJsonArray {QStringLiteral("seek"), seconds * at + double(i),
                                QStringLiteral("absolute+exact")},
                        idle);
                for (int k = 0; k < 5; ++k)
                    m.timed(QJsonArray {QStringLiteral("frame-back-step")}, idle);
                m.command(QJsonArray {QStringLiteral("set_property"), QStringLiteral("pause"), false});
                spinUntil([] { return false; }, 3000);
                m.command(QJsonArray {QStringLiteral("set_property"), QStringLiteral("pause"), true});
            }
            long mpvPeak = 0;
            for (const auto &m : mpvs)
                mpvPeak += m->peakKb();
            std::printf("%d mpv processes: peak memory %ld MB together\n", int(mpvs.size()), mpvPeak / 1024);
        }
        return 0;
    }

    Engine engine;
    const double firstPicture = engine.open(path);
    if (engine.item->status() != MediaPlayerItem::Status::ReadyToPlay) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(path));
        return 1;
    }
    const MediaTime frame = engine.item->frameDuration();
    const int64_t frames = engine.item->duration().value() * frame.timescale()
        / engine.item->duration().timescale() / frame.value();
    const auto frameTime = [&](int64_t index) { return MediaTime(index * frame.value(), frame.timescale()); };
    std::mt19937 random(7);
    std::vector<int64_t> seekFrames;
    for (int i = 0; i < 20; ++i)
        seekFrames.push_back(int64_t(random() % uint32_t(frames - 1)));
    // Uncached step-back origins: GOP starts (the previous GOP is not decoded yet).
    std::vector<int64_t> gopStarts;
    for (int64_t k = 48 * 3; k + 48 < frames && gopStarts.size() < 4; k += 48 * 7)
        gopStarts.push_back(k);

    const auto memoryNote = [&](const char *phase) {
        if (verbose)
            std::printf("after %s: resident %ld MB, cache %zu MB, peak %ld MB\n", phase,
                residentKbSelf() / 1024, engine.item->cacheBytes() >> 20, peakKbSelf() / 1024);
    };

    // The two players take turns on each measurement, so that a change in the machine's load
    // (other programs) weighs on both alike. Before mpv's turn the engine finishes what it decodes
    // in the background, so that mpv never shares the cores with it.
    Mpv mpv;
    const bool haveMpv = useMpv && mpv.start();
    const auto restart = [](const QJsonObject &m) { return Mpv::isEvent(m, "playback-restart"); };
    // A step is done when the position changes or playback restarts (a backward step seeks).
    const auto stepped = [](const QJsonObject &m) {
        return (Mpv::isEvent(m, "property-change") && m.value(QStringLiteral("id")).toInt() == 1)
            || Mpv::isEvent(m, "playback-restart");
    };
    const auto mpvSeek = [&](int64_t index) {
        return mpv.timed(
            QJsonArray {QStringLiteral("seek"), frameTime(index).seconds(), QStringLiteral("absolute+exact")},
            restart);
    };
    const auto engineQuiet = [&] {
        for (int i = 0; i < 100; ++i) {
            const double cpu0 = cpuSecondsSelf();
            spinUntil([] { return false; }, 50);
            if (cpuSecondsSelf() - cpu0 < 0.004)
                return;
        }
    };
    Summary mpvFirst, mpvSeeks, mpvStepBack, mpvStepForward, mpvStepBackCached, mpvStepForwardCached;
    if (haveMpv) {
        engineQuiet();
        mpv.command(QJsonArray {QStringLiteral("observe_property"), 1, QStringLiteral("time-pos")});
        mpvFirst.median = mpvFirst.worst = mpv.timed(QJsonArray {QStringLiteral("loadfile"), path}, restart);
    }

    std::vector<double> seeks, stepBack, stepForward, stepBackCached, stepForwardCached;
    std::vector<double> mpvSeekTimes, back, forward, backCached, forwardCached;
    memoryNote("opening");
    for (int64_t index : seekFrames) {
        seeks.push_back(engine.seek(frameTime(index)));
        engineQuiet();
        if (haveMpv)
            mpvSeekTimes.push_back(mpvSeek(index));
        if (verbose)
            std::printf("seek to frame %lld: %.2f ms | mpv %.2f ms\n", (long long)index, seeks.back(),
                haveMpv ? mpvSeekTimes.back() : 0.0);
    }
    memoryNote("seeks");
    // Far from each origin first, so that nothing around it is cached when the steps begin.
    const auto elsewhere = [&](int64_t origin) { return (origin + frames / 2) % (frames - 1); };
    for (int64_t origin : gopStarts) {
        engine.seek(frameTime(elsewhere(origin)));
        engineQuiet();
        engine.seek(frameTime(origin));
        for (int i = 0; i < 20; ++i) {
            stepBack.push_back(engine.step(-1));
            if (verbose)
                std::printf("step back from %lld-%d: %.2f ms\n", (long long)origin, i, stepBack.back());
        }
        for (int i = 0; i < 20; ++i)
            stepForwardCached.push_back(engine.step(1));
        for (int i = 0; i < 20; ++i)
            stepBackCached.push_back(engine.step(-1));
        engine.seek(frameTime(origin + 20));
        for (int i = 0; i < 20; ++i)
            stepForward.push_back(engine.step(1));
        engineQuiet();
        if (!haveMpv)
            continue;
        mpvSeek(elsewhere(origin));
        mpvSeek(origin);
        for (int i = 0; i < 20; ++i)
            back.push_back(mpv.timed(QJsonArray {QStringLiteral("frame-back-step")}, stepped));
        for (int i = 0; i < 20; ++i)
            forwardCached.push_back(mpv.timed(QJsonArray {QStringLiteral("frame-step")}, stepped));
        for (int i = 0; i < 20; ++i)
            backCached.push_back(mpv.timed(QJsonArray {QStringLiteral("frame-back-step")}, stepped));
        mpvSeek(origin + 20);
        for (int i = 0; i < 20; ++i)
            forward.push_back(mpv.timed(QJsonArray {QStringLiteral("frame-step")}, stepped));
    }
    memoryNote("steps");
    mpvSeeks = summarise(mpvSeekTimes);
    mpvStepBack = summarise(back, 20);
    mpvStepForward = summarise(forward, 20);
    mpvStepBackCached = summarise(backCached);
    mpvStepForwardCached = summarise(forwardCached);
    if (haveMpv)
        mpv.command(QJsonArray {QStringLiteral("unobserve_property"), 1});

    struct RateRow
    {
        double rate, wallSeconds, advanced, cpuPercent;
        int64_t dropped, presented, stalls;
        double mpvCpuPercent = -1, mpvAdvanced = -1, mpvWall = -1, mpvDropped = -1;
    };
    std::vector<RateRow> rows;
    const double durationSeconds = engine.item->duration().seconds();
    for (double rate : rates) {
        const double wall = std::min(playSeconds, durationSeconds * 0.95 / std::abs(rate));
        const MediaTime start
            = rate > 0 ? MediaTime::zero() : MediaTime::fromSeconds(durationSeconds - 0.5, 1000);
        engine.seek(start);
        engine.player->resetStatistics();
        const double cpu0 = cpuSecondsSelf();
        const double t0 = nowMs();
        engine.player->setRate(float(rate));
        spinUntil([&] { return engine.player->rate() == 0.0f; }, wall * 1000);
        const double elapsed = (nowMs() - t0) / 1000;
        const double moved = std::abs(engine.player->currentTime().seconds() - start.seconds());
        engine.player->pause();
        const MediaPlayer::Statistics statistics = engine.player->statistics();
        memoryNote(qPrintable(QStringLiteral("rate %1").arg(rate)));
        RateRow row {rate, elapsed, moved, (cpuSecondsSelf() - cpu0) / elapsed * 100,
            statistics.droppedFrames, statistics.presentedFrames, statistics.stalls};
        engineQuiet();
        if (haveMpv && rate > 0) { // mpv has no negative speed
            mpvSeek(0);
            mpv.command(QJsonArray {QStringLiteral("set_property"), QStringLiteral("speed"), rate});
            const double dropped0 = mpv.property("frame-drop-count");
            const double mpvCpu0 = mpv.cpuSeconds();
            const double mpvT0 = nowMs();
            mpv.command(QJsonArray {QStringLiteral("set_property"), QStringLiteral("pause"), false});
            spinUntil([] { return false; }, wall * 1000);
            mpv.command(QJsonArray {QStringLiteral("set_property"), QStringLiteral("pause"), true});
            row.mpvWall = (nowMs() - mpvT0) / 1000;
            row.mpvAdvanced = mpv.property("time-pos");
            row.mpvCpuPercent = (mpv.cpuSeconds() - mpvCpu0) / row.mpvWall * 100;
            row.mpvDropped = mpv.property("frame-drop-count") - dropped0;
        }
        rows.push_back(row);
    }
    const long enginePeak = peakKbSelf();
    const long mpvPeak = haveMpv ? mpv.peakKb() : 0;
    std::printf(
        "engine done: first picture %.2f ms, seek median %.2f ms, step back median %.2f ms first %.2f ms\n",
        firstPicture, summarise(seeks).median, summarise(stepBack).median, summarise(stepBack, 20).first);

    std::printf("\n%-44s  engine %8.2f ms", "time to first picture", firstPicture);
    if (haveMpv)
        std::printf(" | mpv %8.2f ms", mpvFirst.median);
    std::printf("\n");
    Summary s = summarise(seeks);
    printRow("exact seek, 20 random frames", s, mpvSeeks, haveMpv);
    printRow(
        "step back from a GOP start (uncached), x20", summarise(stepBack, 20), mpvStepBack, haveMpv, true);
    printRow(
        "step back over the same frames (cached)", summarise(stepBackCached), mpvStepBackCached, haveMpv);
    printRow("step forward after a seek, x20", summarise(stepForward, 20), mpvStepForward, haveMpv, true);
    printRow("step forward over decoded frames (cached)", summarise(stepForwardCached), mpvStepForwardCached,
        haveMpv);
    std::printf("\n%6s %7s %9s %8s %8s %9s %7s %6s | %9s %8s %7s\n", "rate", "wall s", "advance", "ratio",
        "dropped", "presented", "stalls", "cpu %", "mpv ratio", "mpv drop", "mpv cpu");
    for (const RateRow &row : rows) {
        std::printf("%6.1f %7.2f %9.2f %8.3f %8lld %9lld %7lld %6.0f", row.rate, row.wallSeconds,
            row.advanced, row.advanced / (row.wallSeconds * std::abs(row.rate)), (long long)row.dropped,
            (long long)row.presented, (long long)row.stalls, row.cpuPercent);
        if (row.mpvWall > 0)
            std::printf(" | %9.3f %8.0f %7.0f", row.mpvAdvanced / (row.mpvWall * row.rate), row.mpvDropped,
                row.mpvCpuPercent);
        std::printf("\n");
    }
    std::printf("\npeak memory: engine %ld MB", enginePeak / 1024);
    if (haveMpv)
        std::printf(" | mpv %ld MB", mpvPeak / 1024);
    std::printf("\n");
    return 0;
}
