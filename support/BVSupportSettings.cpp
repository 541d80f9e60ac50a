#include "support/BVSupportSettings.h"

#include "support/BVLocalPaths.h"

#include <QFile>
#include <QXmlStreamReader>

#include <mutex>

namespace {

struct Readers
{
    std::mutex mutex;
    BVSupportSettings::GlobalPreferencesReader global;
    BVSupportSettings::BoolReader read;
    BVSupportSettings::BoolWriter write;
};

Readers &readers()
{
    static Readers r;
    return r;
}

// The top-level simple values of the global preferences file, for a program that does not link the
// settings store (an XML property list; dictionaries, arrays and dates are left out).
QVariantMap readGlobalPreferencesFile()
{
    QFile file(BVLocalPaths::prefsDirectory(true) + QStringLiteral("/com.brightvane.global.plist"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QXmlStreamReader xml(&file);
    QVariantMap values;
    QString key;
    int depth = 0;
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::EndElement) {
            --depth;
            continue;
        }
        if (token != QXmlStreamReader::StartElement)
            continue;
        ++depth;
        // plist > dict > (key, value)
        if (depth != 3)
            continue;
        const QStringView name = xml.name();
        if (name == QLatin1String("key")) {
            key = xml.readElementText();
            --depth;
            continue;
        }
        if (key.isEmpty())
            continue;
        if (name == QLatin1String("true") || name == QLatin1String("false")) {
            values.insert(key, name == QLatin1String("true"));
        } else if (name == QLatin1String("string")) {
            values.insert(key, xml.readElementText());
            --depth;
        } else if (name == QLatin1String("integer")) {
            values.insert(key, xml.readElementText().toLongLong());
            --depth;
        } else if (name == QLatin1String("real")) {
            values.insert(key, xml.readElementText().toDouble());
            --depth;
        }
        key.clear();
    }
    return values;
}

} // namespace

void BVSupportSettings::setGlobalPreferencesReader(GlobalPreferencesReader reader)
{
    std::lock_guard lock(readers().mutex);
    readers().global = std::move(reader);
}

void BVSupportSettings::setUserDefaults(BoolReader read, BoolWriter write)
{
    std::lock_guard lock(readers().mutex);
    readers().read = std::move(read);
    readers().write = std::move(write);
}

QVariantMap BVSupportSettings::globalPreferences()
{
    GlobalPreferencesReader reader;
    {
        std::lock_guard lock(readers().mutex);
        reader = readers().global;
    }
    return reader ? reader() : readGlobalPreferencesFile();
}

bool BVSupportSettings::boolForKey(const QString &key)
{
    BoolReader reader;
    {
        std::lock_guard lock(readers().mutex);
        reader = readers().read;
    }
    return reader ? reader(key) : false;
}

void BVSupportSettings::setBool(bool value, const QString &key)
{
    BoolWriter writer;
    {
        std::lock_guard lock(readers().mutex);
        writer = readers().write;
    }
    if (writer)
        writer(value, key);
}
