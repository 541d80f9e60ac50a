#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <memory>
#include <mutex>

class BVWorkQueue;

// Per-user settings of one domain: registered defaults lie under stored values; stored values
// persist as an XML property list "<domain>.plist" in the user's preferences folder, written
// atomically on a background queue shortly after each change. Thread-safe.
class BVUserDefaults
{
public:
    // The running program's own domain (its bundle identifier).
    static BVUserDefaults *standardUserDefaults();
    // A named domain such as "com.brightvane.velora"; one instance per domain per process.
    static BVUserDefaults *defaultsForDomain(const QString &domain);
    // Forgets every instance (tests use this after changing HOME).
    static void resetAll();

    ~BVUserDefaults();
    const QString &domain() const { return m_domain; }
    QString filePath() const;

    void registerDefaults(const QVariantMap &defaults);
    QVariantMap registeredDefaults() const;

    QVariant objectForKey(const QString &key) const;
    bool hasStoredValue(const QString &key) const;
    bool boolForKey(const QString &key) const;
    qlonglong integerForKey(const QString &key) const;
    float floatForKey(const QString &key) const;
    double doubleForKey(const QString &key) const;
    QString stringForKey(const QString &key) const;
    QByteArray dataForKey(const QString &key) const;
    QDateTime dateForKey(const QString &key) const;
    QVariantMap dictionaryForKey(const QString &key) const;
    QVariantList arrayForKey(const QString &key) const;

    void setObject(const QVariant &value, const QString &key);
    void setBool(bool value, const QString &key) { setObject(value, key); }
    void setInteger(qlonglong value, const QString &key) { setObject(value, key); }
    void setFloat(float value, const QString &key) { setObject(double(value), key); }
    void setDouble(double value, const QString &key) { setObject(value, key); }
    void setString(const QString &value, const QString &key) { setObject(value, key); }
    void removeObjectForKey(const QString &key);
    // Stored values only, without the registered defaults.
    QVariantMap persistentDomain() const;

    // Waits until every change has reached the file. Answers false when a write failed.
    bool synchronize();
    // Reads the file again, dropping values not yet written (used when another process changed it).
    void reload();

private:
    explicit BVUserDefaults(QString domain);
    void loadIfNeeded() const;
    void scheduleSave();

    QString m_domain;
    mutable std::recursive_mutex m_mutex;
    mutable bool m_loaded = false;
    mutable QVariantMap m_values;
    QVariantMap m_registered;
    bool m_saveScheduled = false;
    bool m_lastSaveOK = true;
    std::unique_ptr<BVWorkQueue> m_saveQueue;
};
