#pragma once

#include <QDBusConnection>
#include <QImage>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QVariant>

#include <map>
#include <memory>

class BVWorkQueue;

// Desktop notifications ("Frame exported", a finished download ...) through the desktop's
// notification service (org.freedesktop.Notifications). A click on one (its default action) posts
// "BVGrowlAlertClicked", its expiry "BVGrowlAlertTimedOut", each on the main thread with
// {"clickContext": context}. Without a notification service the notification is only logged.
// Callable from any thread.
class BVGrowl : public QObject
{
    Q_OBJECT
public:
    static const QString clickedNotification; // "BVGrowlAlertClicked"
    static const QString timedOutNotification; // "BVGrowlAlertTimedOut"
    static const QString defaultNotificationName; // "BVInfoNotification"

    static BVGrowl *defaultController();

    // Posts a notification; a null click context means the current date. Does nothing while
    // "growlDisabled" is set in the global preference file.
    void postGrowlNotification(const QString &title, const QString &description);
    void postGrowlNotification(const QString &title, const QString &description, const QImage &icon,
        const QString &notificationName = defaultNotificationName, const QVariant &clickContext = {});

    // The click and expiry callbacks; a missing context posts nothing.
    void growlNotificationWasClicked(const QVariant &context);
    void growlNotificationTimedOut(const QVariant &context);
    // The bundle's display name, or its executable name when that is empty.
    static QString applicationNameForGrowl();

    // Whether the delegate (the service's signal handlers) has been registered.
    bool isRegistered() const;
    // The service's id of the last notification shown (0 when none was shown).
    uint lastNotificationID() const;
    // Talks to another bus or service name than the session bus's notification service (tests
    // run their own server). Call before the first notification.
    void setBus(const QDBusConnection &bus, const QString &serviceName);

private:
    BVGrowl();
    ~BVGrowl() override;
    // Main thread. Subscribes to the service's click and close signals, once.
    bool registerDelegate();
    void post(const QString &title, const QString &description, const QImage &icon, const QString &name,
        const QVariant &clickContext);

private Q_SLOTS:
    void actionInvoked(uint id, const QString &actionKey);
    void notificationClosed(uint id, uint reason);

private:
    mutable QMutex m_mutex;
    std::unique_ptr<BVWorkQueue> m_queue; // reads the global preference file off the main thread
    QDBusConnection m_bus;
    QString m_serviceName;
    bool m_registered = false;
    uint m_lastID = 0;
    std::map<uint, QVariant> m_contexts; // shown notifications by id
};
