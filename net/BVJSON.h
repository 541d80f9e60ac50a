#pragma once

#include "support/BVError.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

// The JSON reader and writer of the service replies and the usage report. Parsed values are
// QVariantMap, QVariantList, QString, qlonglong (qulonglong above its range), double, bool and
// QVariant::fromValue(nullptr) for null; an invalid QVariant means the call failed and the error
// says why. Errors nest: an error inside a nested value is reported by the outer message with the
// inner error under "underlyingError" of its details. One instance may be used by one thread at a time.
class BVJSON
{
public:
    static const QString errorDomain;
    // Details key holding the inner error (a BVError in a QVariant).
    static const QString underlyingErrorKey;
    // Nesting never goes deeper than this, whatever maxDepth says, so the reader's recursion
    // stays well inside a thread's stack.
    static constexpr int hardDepthLimit = 4096;

    enum Code {
        Unsupported = 1,
        MalformedNumber = 2,
        MalformedInput = 3,
        NotAnObjectOrArray = 4,
        ControlCharacter = 5,
        MalformedUnicode = 6,
        TooDeep = 7,
        IllegalEscape = 8,
        TrailingComma = 9,
        TrailingGarbage = 10,
        EndOfInput = 11,
        NoInput = 12,
    };

    int maxDepth() const { return m_maxDepth; }
    // Values of 0 or below (no limit) and above hardDepthLimit mean hardDepthLimit.
    void setMaxDepth(int depth) { m_maxDepth = depth; }
    bool humanReadable() const { return m_humanReadable; }
    void setHumanReadable(bool on) { m_humanReadable = on; }
    bool sortKeys() const { return m_sortKeys; }
    void setSortKeys(bool on) { m_sortKeys = on; }

    // Reader: the top-level value must be an object or an array. A null and an empty text are
    // both "Unexpected end of string".
    QVariant objectWithString(const QString &text, BVError *error = nullptr) const;
    // Reader: any value at the top level.
    QVariant fragmentWithString(const QString &text, BVError *error = nullptr) const;
    // The same readers on UTF-8 bytes as received (no conversion to QString first); a null data
    // pointer is "Input was 'nil'". Invalid UTF-8 inside a string is refused.
    QVariant objectWithData(const char *data, qsizetype size, BVError *error = nullptr) const;
    QVariant fragmentWithData(const char *data, qsizetype size, BVError *error = nullptr) const;
    QVariant objectWithData(const QByteArray &data, BVError *error = nullptr) const
    {
        return objectWithData(data.constData(), data.size(), error);
    }
    QVariant fragmentWithData(const QByteArray &data, BVError *error = nullptr) const
    {
        return fragmentWithData(data.constData(), data.size(), error);
    }

    // Writer: the top-level value must be a map or a list ("Not valid type for JSON"). Answers a
    // null QString on failure.
    QString stringWithObject(const QVariant &value, BVError *error = nullptr) const;
    // Writer: any value.
    QString stringWithFragment(const QVariant &value, BVError *error = nullptr) const;

    // Conveniences with default settings that log the failure and answer an invalid QVariant or a
    // null QString.
    static QVariant JSONValue(const QString &text);
    static QString JSONRepresentation(const QVariant &value);

    // The innermost cause of an error (the error itself when it has none).
    static BVError rootCause(const BVError &error);
    static BVError underlyingError(const BVError &error);

private:
    int effectiveDepth() const;

    int m_maxDepth = 512;
    bool m_humanReadable = false;
    bool m_sortKeys = false;
};
