#include "prefsync/BVInstalledApplication.h"

#include "support/BVLog.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

namespace {

const QString kBundleIdentifierKey = QStringLiteral("X-Brightvane-BundleIdentifier");

// The value escapes of desktop entries: \s \n \t \r \\.
QString unescapeValue(const QString &value)
{
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != QLatin1Char('\\') || i + 1 == value.size()) {
            out += c;
            continue;
        }
        const QChar next = value.at(++i);
        switch (next.unicode()) {
        case 's':
            out += QLatin1Char(' ');
            break;
        case 'n':
            out += QLatin1Char('\n');
            break;
        case 't':
            out += QLatin1Char('\t');
            break;
        case 'r':
            out += QLatin1Char('\r');
            break;
        default:
            out += QLatin1Char('\\');
            out += next;
            break;
        }
    }
    return out;
}

// The keys of the "[Desktop Entry]" group; localised keys ("Name[de]") are left out.
QMap<QString, QString> desktopEntry(const QString &path)
{
    QMap<QString, QString> keys;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return keys;
    bool inEntry = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            inEntry = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (!inEntry || equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed();
        if (!key.contains(QLatin1Char('[')) && !keys.contains(key))
            keys.insert(key, unescapeValue(line.mid(equals + 1).trimmed()));
    }
    return keys;
}

} // namespace

QStringList BVInstalledApplication::applicationFolders()
{
    return QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation);
}

std::optional<BVInstalledApplication> BVInstalledApplication::applicationWithBundleIdentifier(
    const QString &identifier)
{
    if (identifier.isEmpty() || identifier.contains(QLatin1Char('/')))
        return std::nullopt;
    for (const QString &folder : applicationFolders()) {
        const QString named = folder + QLatin1Char('/') + identifier + QStringLiteral(".desktop");
        if (QFile::exists(named))
            return fromDesktopFile(named, identifier, false);
        const QStringList entries
            = QDir(folder).entryList({QStringLiteral("*.desktop")}, QDir::Files, QDir::Name);
        for (const QString &entry : entries) {
            if (auto app = fromDesktopFile(folder + QLatin1Char('/') + entry, identifier, true))
                return app;
        }
    }
    return std::nullopt;
}

std::optional<BVInstalledApplication> BVInstalledApplication::fromDesktopFile(
    const QString &path, const QString &identifier, bool requireKey)
{
    const QMap<QString, QString> keys = desktopEntry(path);
    if (requireKey && keys.value(kBundleIdentifierKey) != identifier)
        return std::nullopt;
    // A hidden entry is the desktop's way of saying the application was removed.
    if (keys.value(QStringLiteral("Hidden")) == QLatin1String("true")
        || (!keys.contains(QStringLiteral("Exec")) && !keys.contains(QStringLiteral("Name"))))
        return std::nullopt;
    BVInstalledApplication app;
    app.m_bundleIdentifier = identifier;
    app.m_desktopFilePath = path;
    app.m_displayName = keys.value(QStringLiteral("Name"));
    app.m_exec = keys.value(QStringLiteral("Exec"));
    return app;
}

QStringList BVInstalledApplication::launchCommand() const
{
    // Field codes stand for files and addresses handed over at launch; none are.
    QString exec;
    for (qsizetype i = 0; i < m_exec.size(); ++i) {
        if (m_exec.at(i) == QLatin1Char('%') && i + 1 < m_exec.size()) {
            if (m_exec.at(i + 1) == QLatin1Char('%'))
                exec += QLatin1Char('%');
            ++i;
            continue;
        }
        exec += m_exec.at(i);
    }
    return QProcess::splitCommand(exec);
}

bool BVInstalledApplication::launch() const
{
    QStringList command = launchCommand();
    if (command.isEmpty()) {
        BVLog::appendLog("Unable to launch %@: its desktop entry has no command", m_bundleIdentifier);
        return false;
    }
    const QString program = command.takeFirst();
    if (!QProcess::startDetached(program, command)) {
        BVLog::appendLog("Unable to launch %@ (%@)", m_bundleIdentifier, program);
        return false;
    }
    return true;
}
