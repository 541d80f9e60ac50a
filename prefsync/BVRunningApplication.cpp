#include "prefsync/BVRunningApplication.h"

#include "support/BVLog.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QFile>
#include <QThread>

namespace {

const QString kApplicationInterface = QStringLiteral("org.freedesktop.Application");
constexpr int kCallTimeoutMilliseconds = 5000;

// A process has ended when it is gone or only its exit status waits to be collected.
bool processEnded(qint64 pid)
{
    if (pid <= 0)
        return true;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    return close < 0 || line.mid(close + 2, 1) == "Z" || line.mid(close + 2, 1) == "X";
}

} // namespace

QString BVRunningApplication::objectPathForBundleIdentifier(const QString &identifier)
{
    QString path = QLatin1Char('/') + identifier;
    path.replace(QLatin1Char('.'), QLatin1Char('/'));
    path.replace(QLatin1Char('-'), QLatin1Char('_'));
    return path;
}

std::optional<BVRunningApplication> BVRunningApplication::runningApplicationWithBundleIdentifier(
    const QString &identifier)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return std::nullopt;
    if (!bus.interface()->isServiceRegistered(identifier).value())
        return std::nullopt;
    BVRunningApplication app;
    app.m_bundleIdentifier = identifier;
    const QDBusReply<uint> pid = bus.interface()->servicePid(identifier);
    app.m_processIdentifier = pid.isValid() ? qint64(pid.value()) : -1;
    return app;
}

bool BVRunningApplication::terminate() const
{
    QDBusMessage call = QDBusMessage::createMethodCall(m_bundleIdentifier,
        objectPathForBundleIdentifier(m_bundleIdentifier), kApplicationInterface,
        QStringLiteral("ActivateAction"));
    call << QStringLiteral("quit") << QVariant::fromValue(QVariantList())
         << QVariant::fromValue(QVariantMap());
    const QDBusMessage reply
        = QDBusConnection::sessionBus().call(call, QDBus::Block, kCallTimeoutMilliseconds);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        BVLog::appendLog("%@ did not quit: %@", m_bundleIdentifier, reply.errorMessage());
        return false;
    }
    return true;
}

bool BVRunningApplication::isTerminated() const
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    const bool named = bus.isConnected() && bus.interface()
        && bus.interface()->isServiceRegistered(m_bundleIdentifier).value();
    return !named && processEnded(m_processIdentifier);
}

bool BVRunningApplication::waitUntilTerminated(std::chrono::milliseconds timeout) const
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!isTerminated()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        QThread::msleep(50);
    }
    return true;
}
