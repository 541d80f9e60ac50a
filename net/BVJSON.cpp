#include "net/BVJSON.h"

#include "net/BVJSONReader.h"
#include "net/BVJSONWriter.h"
#include "support/BVLog.h"

const QString BVJSON::errorDomain = QStringLiteral("BVJSONErrorDomain");
const QString BVJSON::underlyingErrorKey = QStringLiteral("underlyingError");

int BVJSON::effectiveDepth() const
{
    return (m_maxDepth <= 0 || m_maxDepth > hardDepthLimit) ? hardDepthLimit : m_maxDepth;
}

// ASCII text (the usual reply) is its own UTF-8: converting it as Latin-1 needs a buffer of its
// size rather than UTF-8's worst case of three bytes a character.
static QByteArray utf8Text(const QString &text)
{
    return QtPrivate::isAscii(text) ? text.toLatin1() : text.toUtf8();
}

QVariant BVJSON::objectWithString(const QString &text, BVError *error) const
{
    const QByteArray utf8 = utf8Text(text);
    return objectWithData(utf8.constData(), utf8.size(), error);
}

QVariant BVJSON::fragmentWithString(const QString &text, BVError *error) const
{
    const QByteArray utf8 = utf8Text(text);
    return fragmentWithData(utf8.constData(), utf8.size(), error);
}

QVariant BVJSON::objectWithData(const char *data, qsizetype size, BVError *error) const
{
    BVJSONReader reader(effectiveDepth());
    return reader.parse(data, size, false, error);
}

QVariant BVJSON::fragmentWithData(const char *data, qsizetype size, BVError *error) const
{
    BVJSONReader reader(effectiveDepth());
    return reader.parse(data, size, true, error);
}

QString BVJSON::stringWithObject(const QVariant &value, BVError *error) const
{
    BVJSONWriter writer(effectiveDepth(), m_humanReadable, m_sortKeys);
    return writer.write(value, false, error);
}

QString BVJSON::stringWithFragment(const QVariant &value, BVError *error) const
{
    BVJSONWriter writer(effectiveDepth(), m_humanReadable, m_sortKeys);
    return writer.write(value, true, error);
}

QVariant BVJSON::JSONValue(const QString &text)
{
    BVError error;
    QVariant value = BVJSON().objectWithString(text, &error);
    if (!value.isValid())
        BVLog::appendLog("-JSONValue failed. Error is: %@", error.description());
    return value;
}

QString BVJSON::JSONRepresentation(const QVariant &value)
{
    BVError error;
    QString text = BVJSON().stringWithObject(value, &error);
    if (text.isNull())
        BVLog::appendLog("-JSONRepresentation failed. Error is: %@", error.description());
    return text;
}

BVError BVJSON::underlyingError(const BVError &error)
{
    return error.userInfo().value(underlyingErrorKey).value<BVError>();
}

BVError BVJSON::rootCause(const BVError &error)
{
    BVError cause = error;
    while (cause.userInfo().contains(underlyingErrorKey))
        cause = underlyingError(cause);
    return cause;
}
