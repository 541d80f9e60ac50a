#include "app/BVApplicationBus.h"

#include "support/BVLog.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

BVApplicationBus::BVApplicationBus(const QString &bundleIdentifier, QObject *parent)
    : QObject(parent)
    , m_bundleIdentifier(bundleIdentifier)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        BVLog::appendLog("No session bus: %@ is not offered on it", m_bundleIdentifier);
        return;
    }
    new BVApplicationBusAdaptor(this);
    m_registered = bus.registerObject(objectPath(m_bundleIdentifier), this);
    // RequestName without waiting for the bus: a second instance simply stays in the queue.
    QDBusPendingCall call = bus.interface()->asyncCall(
        QStringLiteral("RequestName"), m_bundleIdentifier, uint(QDBusConnectionInterface::DontQueueService));
    auto *watcher = new QDBusPendingCallWatcher(call, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        const QDBusPendingReply<uint> reply = *w;
        if (reply.isError() || reply.value() != 1)
            BVLog::appendLog("The bus name %@ is owned by another instance", m_bundleIdentifier);
        w->deleteLater();
    });
}

BVApplicationBus::~BVApplicationBus()
{
    if (!m_registered)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterObject(objectPath(m_bundleIdentifier));
    bus.interface()->asyncCall(QStringLiteral("ReleaseName"), m_bundleIdentifier);
}

QString BVApplicationBus::objectPath(const QString &bundleIdentifier)
{
    QString path = QLatin1Char('/') + bundleIdentifier;
    path.replace(QLatin1Char('.'), QLatin1Char('/'));
    path.replace(QLatin1Char('-'), QLatin1Char('_'));
    return path;
}

void BVApplicationBus::activateAction(const QString &name)
{
    if (name == QLatin1String("quit")) {
        BVLog::appendLog("Asked over the session bus to quit");
        Q_EMIT quitRequested();
        // After the reply has gone out; quitting closes the documents as the Quit command does.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
        return;
    }
    BVLog::appendLog("Unknown action asked for over the session bus: %@", name);
    Q_EMIT unknownActionRequested(name);
}

BVApplicationBusAdaptor::BVApplicationBusAdaptor(BVApplicationBus *bus)
    : QDBusAbstractAdaptor(bus)
    , m_bus(bus)
{ }

void BVApplicationBusAdaptor::Activate(const QVariantMap &) { }

void BVApplicationBusAdaptor::Open(const QStringList &, const QVariantMap &) { }

void BVApplicationBusAdaptor::ActivateAction(
    const QString &actionName, const QVariantList &, const QVariantMap &)
{
    m_bus->activateAction(actionName);
}
