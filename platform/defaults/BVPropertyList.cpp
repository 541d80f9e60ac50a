#include "platform/defaults/BVPropertyList.h"

#include "support/BVLocalPaths.h"
#include "support/BVSupportSettings.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTimeZone>
#include <QVariantList>

#include <plist/plist.h>

#include <cmath>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

namespace {

// The log (support, below this folder) reads the shared global preferences through this.
[[maybe_unused]] const bool s_globalReaderInstalled = [] {
    BVSupportSettings::setGlobalPreferencesReader(
        [] { return BVPropertyList::readDictionary(BVPropertyList::globalPreferencesPath()); });
    return true;
}();

// Property-list dates count seconds from 2001-01-01 00:00:00 UTC.
constexpr qint64 kReferenceDateOffset = 978307200;

struct PlistDeleter
{
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

QVariant toVariant(plist_t node)
{
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return bool(value);
    }
    case PLIST_UINT: {
        uint64_t value = 0;
        plist_get_uint_val(node, &value);
        // Integers are stored as 64-bit two's complement; negative numbers come back as such.
        return qlonglong(int64_t(value));
    }
    case PLIST_REAL: {
        double value = 0;
        plist_get_real_val(node, &value);
        return value;
    }
    case PLIST_STRING: {
        char *text = nullptr;
        plist_get_string_val(node, &text);
        QString value = QString::fromUtf8(text ? text : "");
        free(text);
        return value;
    }
    case PLIST_DATA: {
        char *bytes = nullptr;
        uint64_t length = 0;
        plist_get_data_val(node, &bytes, &length);
        QByteArray value(bytes ? bytes : "", qsizetype(length));
        free(bytes);
        return value;
    }
    case PLIST_DATE: {
        int32_t sec = 0, usec = 0;
        plist_get_date_val(node, &sec, &usec);
        return QDateTime::fromMSecsSinceEpoch(
            (qint64(sec) + kReferenceDateOffset) * 1000 + usec / 1000, Qt::UTC);
    }
    case PLIST_ARRAY: {
        QVariantList list;
        const uint32_t n = plist_array_get_size(node);
        list.reserve(int(n));
        for (uint32_t i = 0; i < n; ++i)
            list.append(toVariant(plist_array_get_item(node, i)));
        return list;
    }
    case PLIST_DICT: {
        QVariantMap map;
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        for (;;) {
            char *key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, it, &key, &value);
            if (!key)
                break;
            map.insert(QString::fromUtf8(key), toVariant(value));
            free(key);
        }
        free(it);
        return map;
    }
    default:
        return {};
    }
}

plist_t fromVariant(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return plist_new_bool(value.toBool());
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UShort:
        return plist_new_uint(uint64_t(value.toLongLong()));
    case QMetaType::Double:
    case QMetaType::Float:
        return plist_new_real(value.toDouble());
    case QMetaType::QByteArray: {
        const QByteArray data = value.toByteArray();
        return plist_new_data(data.constData(), uint64_t(data.size()));
    }
    case QMetaType::QDateTime: {
        const qint64 ms = value.toDateTime().toMSecsSinceEpoch() - kReferenceDateOffset * 1000;
        const qint64 sec = qint64(std::floor(double(ms) / 1000.0));
        return plist_new_date(int32_t(sec), int32_t((ms - sec * 1000) * 1000));
    }
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        plist_t array = plist_new_array();
        for (const QVariant &item : value.toList()) {
            if (plist_t child = fromVariant(item))
                plist_array_append_item(array, child);
        }
        return array;
    }
    case QMetaType::QVariantMap: {
        plist_t dict = plist_new_dict();
        const QVariantMap map = value.toMap();
        for (auto it = map.begin(); it != map.end(); ++it) {
            if (plist_t child = fromVariant(it.value()))
                plist_dict_set_item(dict, it.key().toUtf8().constData(), child);
        }
        return dict;
    }
    case QMetaType::UnknownType:
    case QMetaType::Nullptr:
        // Property lists have no null: such values are left out.
        return nullptr;
    default:
        return plist_new_string(value.toString().toUtf8().constData());
    }
}

} // namespace

std::optional<QVariant> BVPropertyList::fromData(const QByteArray &data)
{
    if (data.isEmpty())
        return std::nullopt;
    plist_t root = nullptr;
    plist_from_memory(data.constData(), uint32_t(data.size()), &root);
    if (!root)
        return std::nullopt;
    PlistPtr guard(root);
    return toVariant(root);
}

std::optional<QVariant> BVPropertyList::read(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    return fromData(f.readAll());
}

QVariantMap BVPropertyList::readDictionary(const QString &path)
{
    const std::optional<QVariant> value = read(path);
    if (!value || value->typeId() != QMetaType::QVariantMap)
        return {};
    return value->toMap();
}

QByteArray BVPropertyList::toXML(const QVariant &value)
{
    plist_t root = fromVariant(value);
    if (!root)
        return {};
    PlistPtr guard(root);
    char *xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root, &xml, &length);
    QByteArray result(xml, qsizetype(length));
    free(xml);
    return result;
}

bool BVPropertyList::write(const QVariant &value, const QString &path)
{
    const QByteArray xml = toXML(value);
    if (xml.isEmpty())
        return false;
    QDir().mkpath(QFileInfo(path).absolutePath());
    // QSaveFile writes a temporary file beside the target and renames it over the target on commit;
    // the data is flushed to disk first so that a crash leaves either the old or the new file.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(xml) != xml.size()) {
        file.cancelWriting();
        return false;
    }
    file.flush();
    if (::fsync(file.handle()) != 0) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

QString BVPropertyList::globalPreferencesPath()
{
    return BVLocalPaths::prefsDirectory(true) + QStringLiteral("/com.brightvane.global.plist");
}

QString BVPropertyList::qcPreferencesPath()
{
    return BVLocalPaths::prefsDirectory(true) + QStringLiteral("/com.brightvane.qc.plist");
}
