#include "app/BVGrowl.h"

#include "platform/defaults/BVPropertyList.h"
#include "support/BVBundle.h"
#include "support/BVLog.h"
#include "support/BVMainThread.h"
#include "support/BVNotificationCenter.h"
#include "support/BVWorkQueue.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDateTime>
#include <QGuiApplication>
#include <QIcon>
#include <QMutexLocker>
#include <QPointer>

const QString BVGrowl::clickedNotification = QStringLiteral("BVGrowlAlertClicked");
const QString BVGrowl::timedOutNotification = QStringLiteral("BVGrowlAlertTimedOut");
const QString BVGrowl::defaultNotificationName = QStringLiteral("BVInfoNotification");

namespace {

const QString notificationsPath = QStringLiteral("/org/freedesktop/Notifications");
const QString notificationsInterface = QStringLiteral("org.freedesktop.Notifications");
constexpr uint closedExpired = 1;

// The "image-data" hint: width, height, row stride, alpha, bits per sample, channels, bytes.
struct NotificationImage
{
    QImage image;
};

QDBusArgument &operator<<(QDBusArgument &argument, const NotificationImage &value)
{
    const QImage image = value.image.convertToFormat(QImage::Format_RGBA8888);
    argument.beginStructure();
    argument << image.width() << image.height() << int(image.bytesPerLine()) << true << 8 << 4
             << QByteArray(reinterpret_cast<const char *>(image.constBits()), image.sizeInBytes());
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, NotificationImage &)
{
    return argument;
}

bool isTrue(const QVariant &value)
{
    if (value.typeId() == QMetaType::QString)
        return value.toString() == QLatin1String("1")
            || value.toString().compare("true", Qt::CaseInsensitive) == 0
            || value.toString().compare("yes", Qt::CaseInsensitive) == 0;
    return value.isValid() && value.toBool();
}

} // namespace

Q_DECLARE_METATYPE(NotificationImage)

BVGrowl *BVGrowl::defaultController()
{
    // Created on first use, from any thread; it lives on the main thread, where D-Bus signals
    // arrive.
    static BVGrowl *controller = [] {
        auto *growl = new BVGrowl;
        if (QCoreApplication *app = QCoreApplication::instance())
            growl->moveToThread(app->thread());
        return growl;
    }();
    return controller;
}

BVGrowl::BVGrowl()
    : m_queue(std::make_unique<BVWorkQueue>(QStringLiteral("com.brightvane.growl")))
    , m_bus(QDBusConnection::sessionBus())
    , m_serviceName(notificationsInterface)
{
    qDBusRegisterMetaType<NotificationImage>();
}

BVGrowl::~BVGrowl() = default;

void BVGrowl::setBus(const QDBusConnection &bus, const QString &serviceName)
{
    QMutexLocker lock(&m_mutex);
    m_bus = bus;
    m_serviceName = serviceName;
    m_registered = false;
}

bool BVGrowl::isRegistered() const
{
    QMutexLocker lock(&m_mutex);
    return m_registered;
}

uint BVGrowl::lastNotificationID() const
{
    QMutexLocker lock(&m_mutex);
    return m_lastID;
}

QString BVGrowl::applicationNameForGrowl()
{
    const BVBundle &bundle = BVBundle::mainBundle();
    const QString name = bundle.stringForKey(QStringLiteral("CFBundleDisplayName"));
    if (!name.isEmpty())
        return name;
    return bundle.stringForKey(QStringLiteral("CFBundleExecutable"));
}

void BVGrowl::postGrowlNotification(const QString &title, const QString &description)
{
    postGrowlNotification(title, description, QImage(), defaultNotificationName, QVariant());
}

void BVGrowl::postGrowlNotification(const QString &title, const QString &description, const QImage &icon,
    const QString &notificationName, const QVariant &clickContext)
{
    const QVariant context = clickContext.isValid() ? clickContext : QVariant(QDateTime::currentDateTime());
    const QString name = notificationName.isEmpty() ? defaultNotificationName : notificationName;
    // The switch is read from disk on the queue, which also keeps notifications in order; the
    // D-Bus call itself is made on the main thread, where its reply and signals arrive.
    m_queue->async([this, title, description, icon, name, context] {
        const QVariantMap global = BVPropertyList::readDictionary(BVPropertyList::globalPreferencesPath());
        if (isTrue(global.value(QStringLiteral("growlDisabled")))) {
            BVLog::appendLog("Notification not shown (disabled): %@", title);
            return;
        }
        BVMainThread::async([this, title, description, icon, name, context] {
            post(title, description, icon, name, context);
        });
    });
}

bool BVGrowl::registerDelegate()
{
    QMutexLocker lock(&m_mutex);
    if (m_registered)
        return true;
    if (!m_bus.isConnected())
        return false;
    const bool invoked = m_bus.connect(m_serviceName, notificationsPath, notificationsInterface,
        QStringLiteral("ActionInvoked"), this, SLOT(actionInvoked(uint, QString)));
    const bool closed = m_bus.connect(m_serviceName, notificationsPath, notificationsInterface,
        QStringLiteral("NotificationClosed"), this, SLOT(notificationClosed(uint, uint)));
    m_registered = invoked && closed;
    return m_registered;
}

void BVGrowl::post(const QString &title, const QString &description, const QImage &icon, const QString &name,
    const QVariant &clickContext)
{
    if (!registerDelegate()) {
        BVLog::appendLog("Notification (no notification service): %@ - %@", title, description);
        return;
    }
    QDBusConnection bus = m_bus;
    QString service;
    {
        QMutexLocker lock(&m_mutex);
        service = m_serviceName;
    }
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), BVBundle::mainBundle().bundleIdentifier());
    hints.insert(QStringLiteral("x-brightvane-name"), name);
    QImage image = icon;
    if (image.isNull()) {
        const QIcon appIcon = QGuiApplication::windowIcon();
        if (!appIcon.isNull())
            image = appIcon.pixmap(64, 64).toImage();
    }
    if (!image.isNull()) {
        if (image.width() > 128 || image.height() > 128)
            image = image.scaled(128, 128, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        hints.insert(QStringLiteral("image-data"), QVariant::fromValue(NotificationImage {image}));
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        service, notificationsPath, notificationsInterface, QStringLiteral("Notify"));
    call << applicationNameForGrowl() << uint(0) << BVBundle::mainBundle().bundleIdentifier() << title
         << description << QStringList {QStringLiteral("default"), QStringLiteral("Show")} << hints
         << int(-1);

    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
        [this, title, description, clickContext](QDBusPendingCallWatcher *finished) {
            finished->deleteLater();
            QDBusPendingReply<uint> reply = *finished;
            if (reply.isError()) {
                BVLog::appendLog(
                    "Notification (not shown: %@): %@ - %@", reply.error().message(), title, description);
                return;
            }
            QMutexLocker lock(&m_mutex);
            m_lastID = reply.value();
            m_contexts[m_lastID] = clickContext;
            // Keep the table small: a service that never reports closes must not grow it forever.
            while (m_contexts.size() > 64)
                m_contexts.erase(m_contexts.begin());
        });
}

void BVGrowl::actionInvoked(uint id, const QString &actionKey)
{
    if (actionKey != QLatin1String("default"))
        return;
    QVariant context;
    {
        QMutexLocker lock(&m_mutex);
        auto found = m_contexts.find(id);
        if (found == m_contexts.end())
            return; // another program's notification
        context = found->second;
    }
    growlNotificationWasClicked(context);
}

void BVGrowl::notificationClosed(uint id, uint reason)
{
    QVariant context;
    {
        QMutexLocker lock(&m_mutex);
        auto found = m_contexts.find(id);
        if (found == m_contexts.end())
            return;
        context = found->second;
        m_contexts.erase(found);
    }
    if (reason == closedExpired)
        growlNotificationTimedOut(context);
}

void BVGrowl::growlNotificationWasClicked(const QVariant &context)
{
    if (!context.isValid() || context.isNull())
        return;
    BVNotificationCenter::defaultCenter().postNotificationOnMainThread(
        clickedNotification, nullptr, {{QStringLiteral("clickContext"), context}});
}

void BVGrowl::growlNotificationTimedOut(const QVariant &context)
{
    if (!context.isValid() || context.isNull())
        return;
    BVNotificationCenter::defaultCenter().postNotificationOnMainThread(
        timedOutNotification, nullptr, {{QStringLiteral("clickContext"), context}});
}
