#include "support/BVOSDetect.h"

#include <QFile>
#include <QRegularExpression>

#include <cstdio>

namespace {

QString osReleaseValue(const QString &key)
{
    for (const char *path : {"/etc/os-release", "/usr/lib/os-release"}) {
        QFile f(QString::fromLatin1(path));
        if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
            continue;
        while (!f.atEnd()) {
            const QString line = QString::fromUtf8(f.readLine()).trimmed();
            if (!line.startsWith(key + u'='))
                continue;
            QString value = line.mid(key.size() + 1);
            if (value.size() >= 2 && (value.startsWith(u'"') || value.startsWith(u'\'')))
                value = value.mid(1, value.size() - 2);
            return value;
        }
    }
    return {};
}

} // namespace

QString BVOSDetect::osxVersion()
{
    // Debian keeps its point release in /etc/debian_version ("12.12"); others give VERSION_ID.
    QString version;
    QFile debian(QStringLiteral("/etc/debian_version"));
    if (debian.open(QIODevice::ReadOnly | QIODevice::Text))
        version = QString::fromUtf8(debian.readAll()).trimmed();
    static const QRegularExpression numeric(QStringLiteral("^(\\d+)(?:\\.(\\d+))?(?:\\.(\\d+))?"));
    QRegularExpressionMatch m = numeric.match(version);
    if (!m.hasMatch()) {
        version = osReleaseValue(QStringLiteral("VERSION_ID"));
        m = numeric.match(version);
    }
    if (!m.hasMatch()) {
        std::fprintf(stderr, "Unable to obtain system version: %ld\n", -1L);
        return QStringLiteral("0.0.0");
    }
    return QStringLiteral("%1.%2.%3")
        .arg(m.captured(1).toLongLong())
        .arg(m.captured(2).toLongLong())
        .arg(m.captured(3).toLongLong());
}

QString BVOSDetect::systemName()
{
    const QString name = osReleaseValue(QStringLiteral("NAME"));
    return name.isEmpty() ? QStringLiteral("Linux") : name;
}
