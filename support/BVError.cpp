#include "support/BVError.h"

BVError::BVError(QString domain, int code, QVariantMap userInfo)
    : m_domain(std::move(domain))
    , m_code(code)
    , m_userInfo(std::move(userInfo))
{ }

BVError BVError::withDescription(const QString &domain, int code, const QString &description,
    const QString &failureReason, const QString &recoverySuggestion)
{
    QVariantMap info;
    if (!description.isEmpty())
        info.insert(QStringLiteral("localizedDescription"), description);
    if (!failureReason.isEmpty())
        info.insert(QStringLiteral("failureReason"), failureReason);
    if (!recoverySuggestion.isEmpty())
        info.insert(QStringLiteral("recoverySuggestion"), recoverySuggestion);
    return BVError(domain, code, info);
}

QString BVError::localizedDescription() const
{
    const QString text = m_userInfo.value(QStringLiteral("localizedDescription")).toString();
    if (!text.isEmpty())
        return text;
    return QStringLiteral("The operation couldn't be completed. (%1 error %2.)").arg(m_domain).arg(m_code);
}

QString BVError::localizedFailureReason() const
{
    return m_userInfo.value(QStringLiteral("failureReason")).toString();
}

QString BVError::localizedRecoverySuggestion() const
{
    return m_userInfo.value(QStringLiteral("recoverySuggestion")).toString();
}

QString BVError::description() const
{
    return QStringLiteral("%1 %2: %3").arg(m_domain).arg(m_code).arg(localizedDescription());
}
