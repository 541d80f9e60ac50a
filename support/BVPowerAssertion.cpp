#include "support/BVPowerAssertion.h"

#include "support/BVBundle.h"
#include "support/BVLog.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>

namespace {
const char *const kService = "org.freedesktop.ScreenSaver";
const char *const kPath = "/org/freedesktop/ScreenSaver";
// The inhibition service answers at once; a longer wait would stall the player window.
constexpr int kTimeoutMs = 500;
} // namespace

BVPowerAssertion::~BVPowerAssertion()
{
    releasePowerAssertion();
}

bool BVPowerAssertion::createPowerAssertionWithReason(const QString &reason)
{
    releasePowerAssertion();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        BVLog::appendLog("Unable to prevent display sleep: no session bus (%@)", bus.lastError().message());
        return false;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QLatin1String(kService), QLatin1String(kPath), QLatin1String(kService), QStringLiteral("Inhibit"));
    call << BVBundle::mainBundle().stringForKey(QStringLiteral("CFBundleName")) << reason;
    const QDBusReply<uint> reply = bus.call(call, QDBus::Block, kTimeoutMs);
    if (!reply.isValid()) {
        BVLog::appendLog("Unable to prevent display sleep: %@", reply.error().message());
        return false;
    }
    m_assertionID = reply.value();
    return true;
}

bool BVPowerAssertion::releasePowerAssertion()
{
    if (m_assertionID == 0)
        return true;
    const uint32_t cookie = m_assertionID;
    m_assertionID = 0;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QLatin1String(kService), QLatin1String(kPath), QLatin1String(kService), QStringLiteral("UnInhibit"));
    call << cookie;
    const QDBusMessage reply = bus.call(call, QDBus::Block, kTimeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        BVLog::appendLog("Unable to release the display sleep assertion: %@", reply.errorMessage());
        return false;
    }
    return true;
}
