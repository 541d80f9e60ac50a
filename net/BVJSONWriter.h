#pragma once

#include "support/BVError.h"

#include <QString>
#include <QVariant>

// The writer behind BVJSON: Qt values to JSON text, compact or human readable (two spaces of
// indent per level), with keys optionally sorted.
class BVJSONWriter
{
public:
    BVJSONWriter(int maxDepth, bool humanReadable, bool sortKeys)
        : m_maxDepth(maxDepth)
        , m_humanReadable(humanReadable)
        , m_sortKeys(sortKeys)
    { }

    // Answers a null QString and sets error on failure.
    QString write(const QVariant &value, bool fragment, BVError *error);

private:
    bool appendValue(const QVariant &value);
    bool appendList(const QVariantList &list);
    bool appendMap(const QVariant &map);
    void appendString(const QString &text);
    void appendIndent();
    void addError(int code, const QString &message);

    int m_maxDepth;
    bool m_humanReadable;
    bool m_sortKeys;
    int m_depth = 0;
    QString m_out;
    BVError m_error;
    bool m_failed = false;
};
