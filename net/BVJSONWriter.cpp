#include "net/BVJSONWriter.h"

#include "net/BVJSON.h"
#include "support/BVFormat.h"

#include <QLocale>
#include <QStringList>
#include <QVariantHash>
#include <QVariantList>
#include <QVariantMap>

#include <algorithm>
#include <cmath>

namespace {

bool isListType(int type)
{
    return type == QMetaType::QVariantList || type == QMetaType::QStringList;
}

bool isMapType(int type)
{
    return type == QMetaType::QVariantMap || type == QMetaType::QVariantHash;
}

} // namespace

QString BVJSONWriter::write(const QVariant &value, bool fragment, BVError *error)
{
    m_out.clear();
    m_depth = 0;
    m_failed = false;
    m_error = BVError();
    bool ok = false;
    if (!fragment && !isListType(value.typeId()) && !isMapType(value.typeId()))
        addError(BVJSON::NotAnObjectOrArray, QStringLiteral("Not valid type for JSON"));
    else
        ok = appendValue(value);
    if (error)
        *error = ok ? BVError() : m_error;
    if (!ok)
        return {};
    QString result;
    result.swap(m_out);
    return result;
}

void BVJSONWriter::addError(int code, const QString &message)
{
    BVError outer = BVError::withDescription(BVJSON::errorDomain, code, message);
    if (m_failed)
        outer.userInfo().insert(BVJSON::underlyingErrorKey, QVariant::fromValue(m_error));
    m_error = std::move(outer);
    m_failed = true;
}

void BVJSONWriter::appendIndent()
{
    m_out += QLatin1Char('\n');
    m_out += QString(2 * m_depth, QLatin1Char(' '));
}

bool BVJSONWriter::appendValue(const QVariant &value)
{
    const int type = value.typeId();
    switch (type) {
    case QMetaType::UnknownType:
    case QMetaType::Nullptr:
        m_out += QLatin1String("null");
        return true;
    case QMetaType::Bool:
        m_out += value.toBool() ? QLatin1String("true") : QLatin1String("false");
        return true;
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::SChar:
        m_out += QString::number(value.toLongLong());
        return true;
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UShort:
    case QMetaType::UChar:
        m_out += QString::number(value.toULongLong());
        return true;
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = value.toDouble();
        // JSON has no text for infinities and NaN: refuse them rather than write invalid JSON.
        if (!std::isfinite(d))
            break;
        m_out += QString::number(d, 'g', QLocale::FloatingPointShortest);
        return true;
    }
    case QMetaType::QString:
        appendString(value.toString());
        return true;
    case QMetaType::QVariantList:
        return appendList(value.toList());
    case QMetaType::QStringList: {
        QVariantList list;
        for (const QString &item : value.toStringList())
            list.append(item);
        return appendList(list);
    }
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash:
        return appendMap(value);
    default:
        break;
    }
    addError(BVJSON::Unsupported,
        BVFormat::format(
            "JSON serialisation not supported for %@", QString::fromLatin1(value.metaType().name())));
    return false;
}

bool BVJSONWriter::appendList(const QVariantList &list)
{
    if (++m_depth > m_maxDepth) {
        addError(BVJSON::TooDeep, QStringLiteral("Nested too deep"));
        return false;
    }
    m_out += QLatin1Char('[');
    bool comma = false;
    for (const QVariant &item : list) {
        if (comma)
            m_out += QLatin1Char(',');
        comma = true;
        if (m_humanReadable)
            appendIndent();
        if (!appendValue(item))
            return false;
    }
    --m_depth;
    if (m_humanReadable && !list.isEmpty())
        appendIndent();
    m_out += QLatin1Char(']');
    return true;
}

bool BVJSONWriter::appendMap(const QVariant &map)
{
    if (++m_depth > m_maxDepth) {
        addError(BVJSON::TooDeep, QStringLiteral("Nested too deep"));
        return false;
    }
    // A QVariantMap is ordered by key already; a QVariantHash is sorted only when asked.
    QList<std::pair<QString, QVariant>> members;
    if (map.typeId() == QMetaType::QVariantMap) {
        const QVariantMap m = map.toMap();
        for (auto it = m.begin(); it != m.end(); ++it)
            members.append({it.key(), it.value()});
    } else {
        const QVariantHash h = map.toHash();
        for (auto it = h.begin(); it != h.end(); ++it)
            members.append({it.key(), it.value()});
        if (m_sortKeys)
            std::sort(members.begin(), members.end(),
                [](const auto &a, const auto &b) { return a.first < b.first; });
    }
    const QLatin1String colon = m_humanReadable ? QLatin1String(" : ") : QLatin1String(":");
    m_out += QLatin1Char('{');
    bool comma = false;
    for (const auto &[key, value] : members) {
        if (comma)
            m_out += QLatin1Char(',');
        comma = true;
        if (m_humanReadable)
            appendIndent();
        appendString(key);
        m_out += colon;
        if (!appendValue(value)) {
            addError(BVJSON::Unsupported, BVFormat::format("Unsupported value for key %@ in object", key));
            return false;
        }
    }
    --m_depth;
    if (m_humanReadable && !members.isEmpty())
        appendIndent();
    m_out += QLatin1Char('}');
    return true;
}

void BVJSONWriter::appendString(const QString &text)
{
    m_out += QLatin1Char('"');
    const QChar *begin = text.constData();
    const QChar *end = begin + text.size();
    const QChar *run = begin;
    for (const QChar *p = begin; p != end; ++p) {
        const char16_t c = p->unicode();
        if (c >= 0x20 && c != u'"' && c != u'\\')
            continue;
        m_out.append(run, p - run);
        run = p + 1;
        switch (c) {
        case u'"':
            m_out += QLatin1String("\\\"");
            break;
        case u'\\':
            m_out += QLatin1String("\\\\");
            break;
        case u'\b':
            m_out += QLatin1String("\\b");
            break;
        case u'\t':
            m_out += QLatin1String("\\t");
            break;
        case u'\n':
            m_out += QLatin1String("\\n");
            break;
        case u'\f':
            m_out += QLatin1String("\\f");
            break;
        case u'\r':
            m_out += QLatin1String("\\r");
            break;
        default:
            m_out += QStringLiteral("\\u%1").arg(unsigned(c), 4, 16, QLatin1Char('0'));
            break;
        }
    }
    m_out.append(run, end - run);
    m_out += QLatin1Char('"');
}
