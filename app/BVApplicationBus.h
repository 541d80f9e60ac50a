#pragma once

#include <QDBusAbstractAdaptor>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

// The running application on the session bus: owns its bundle identifier as a bus name and offers
// org.freedesktop.Application at the object path made from it, so that the desktop and prefsync
// can find the instance and ask it to quit. Main thread; the name is requested without waiting.
class BVApplicationBus : public QObject
{
    Q_OBJECT
public:
    explicit BVApplicationBus(const QString &bundleIdentifier, QObject *parent = nullptr);
    ~BVApplicationBus() override;

    // "/com/brightvane/Reelmark" for "com.brightvane.Reelmark".
    static QString objectPath(const QString &bundleIdentifier);
    const QString &bundleIdentifier() const { return m_bundleIdentifier; }

    // What the actions do; quitting by default asks the application to quit.
    void activateAction(const QString &name);
    QStringList actions() const { return {QStringLiteral("quit")}; }

Q_SIGNALS:
    // The "quit" action arrived; the application quits once the event loop runs on.
    void quitRequested();
    // An action the application does not know was asked for.
    void unknownActionRequested(const QString &name);

private:
    QString m_bundleIdentifier;
    bool m_registered = false;
};

// The org.freedesktop.Application interface of the bus object.
class BVApplicationBusAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
public:
    explicit BVApplicationBusAdaptor(BVApplicationBus *bus);

public Q_SLOTS:
    void Activate(const QVariantMap &platformData);
    void Open(const QStringList &uris, const QVariantMap &platformData);
    void ActivateAction(
        const QString &actionName, const QVariantList &parameter, const QVariantMap &platformData);

private:
    BVApplicationBus *m_bus;
};
