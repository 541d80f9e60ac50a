#pragma once

#include <QString>
#include <QVariantMap>

// An error as the services report it: a domain, a code and a details map holding
// "localizedDescription", "failureReason", "recoverySuggestion" and, for cloud errors, "error".
class BVError
{
public:
    BVError() = default;
    BVError(QString domain, int code, QVariantMap userInfo = {});

    static BVError withDescription(const QString &domain, int code, const QString &description,
        const QString &failureReason = {}, const QString &recoverySuggestion = {});

    bool isNull() const { return m_domain.isEmpty() && m_code == 0; }
    const QString &domain() const { return m_domain; }
    int code() const { return m_code; }
    const QVariantMap &userInfo() const { return m_userInfo; }
    QVariantMap &userInfo() { return m_userInfo; }

    QString localizedDescription() const;
    QString localizedFailureReason() const;
    QString localizedRecoverySuggestion() const;
    // "domain code: description", for log lines.
    QString description() const;

    bool operator==(const BVError &other) const = default;

private:
    QString m_domain;
    int m_code = 0;
    QVariantMap m_userInfo;
};
