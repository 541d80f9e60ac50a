#include "app/BVImageSequenceFiles.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

namespace {

// The leading decimal digits of the last number-like match in the file name; -1 when none.
bool lastNumber(const QString &path, qulonglong *value)
{
    static const QRegularExpression pattern(
        QStringLiteral("([0-9])\\w+"), QRegularExpression::CaseInsensitiveOption);
    const QString name = QFileInfo(path).fileName();
    QString last;
    for (auto it = pattern.globalMatch(name); it.hasNext();)
        last = it.next().captured(0);
    if (last.isEmpty())
        return false;
    qsizetype digits = 0;
    while (digits < last.size() && last.at(digits).isDigit() && last.at(digits).unicode() < 128)
        ++digits;
    // Numbers too long for 64 bits compare by their first 19 digits.
    *value = last.left(std::min<qsizetype>(digits, 19)).toULongLong();
    return true;
}

QString withoutExtension(const QString &path)
{
    const QFileInfo info(path);
    const QString suffix = info.suffix();
    return suffix.isEmpty() ? path : path.left(path.size() - suffix.size() - 1);
}

} // namespace

namespace BVImageSequenceFiles {

bool playsBefore(const QString &a, const QString &b)
{
    qulonglong na = 0;
    qulonglong nb = 0;
    // Names whose numbers are equal ("take2_0005" and "take2_0006" both give 2, as "\w" takes the
    // underscores and the frame number along) fall back to their paths, so that they still play
    // in frame order instead of in the order they were chosen.
    if (lastNumber(a, &na) && lastNumber(b, &nb) && na != nb)
        return na < nb;
    return withoutExtension(a) < withoutExtension(b);
}

QStringList sortedPaths(const QStringList &paths)
{
    QStringList sorted = paths;
    std::stable_sort(sorted.begin(), sorted.end(), playsBefore);
    return sorted;
}

double frameRateForEntry(const QString &typed)
{
    bool ok = false;
    const double value = typed.trimmed().toDouble(&ok);
    if (!ok || !(value > 0))
        return 24;
    if (value > 23 && value < 24)
        return 24000.0 / 1001.0;
    if (value > 29 && value < 30)
        return 30000.0 / 1001.0;
    if (value > 59 && value < 60)
        return 60000.0 / 1001.0;
    return value;
}

bool isImagePath(const QString &path)
{
    static const QStringList extensions {QStringLiteral("tif"), QStringLiteral("tiff"), QStringLiteral("jpg"),
        QStringLiteral("jpeg"), QStringLiteral("png"), QStringLiteral("bmp"), QStringLiteral("exr"),
        QStringLiteral("dpx")};
    return extensions.contains(QFileInfo(path).suffix().toLower());
}

} // namespace BVImageSequenceFiles
