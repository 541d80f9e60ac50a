#include "markers/BVMarkerListEntry.h"

#include <QRegularExpression>

namespace BVMarkerListText {

QStringList lines(const QString &text)
{
    static const QRegularExpression breaks(QStringLiteral("\r\n|\r|\n"));
    return text.split(breaks);
}

QString trimmed(const QString &line)
{
    qsizetype start = 0, end = line.size();
    auto blank = [](QChar c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; };
    while (start < end && blank(line.at(start)))
        ++start;
    while (end > start && blank(line.at(end - 1)))
        --end;
    return line.mid(start, end - start);
}

QString trimmedKeepingTabs(const QString &line)
{
    qsizetype start = 0, end = line.size();
    auto blank = [](QChar c) { return c == u' ' || c == u'\r' || c == u'\n'; };
    while (start < end && blank(line.at(start)))
        ++start;
    while (end > start && blank(line.at(end - 1)))
        --end;
    return line.mid(start, end - start);
}

QString label(const QString &part1, const QString &part2)
{
    if (!part1.isEmpty() && !part2.isEmpty())
        return part1 + QStringLiteral(" - %1").arg(part2);
    return part1.isEmpty() ? part2 : part1;
}

QString field(const QString &text)
{
    QString out = text;
    for (QChar &c : out)
        if (c == u'\t' || c == u'\r' || c == u'\n')
            c = u' ';
    return out;
}

bool isTimecode(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^\\d{1,2}:\\d{2}:\\d{2}[:;.]\\d{2,3}$"));
    return pattern.match(text.trimmed()).hasMatch();
}

bool isTrackName(const QString &text)
{
    static const QRegularExpression pattern(
        QStringLiteral("^(V|A|TC)\\d{1,3}$"), QRegularExpression::CaseInsensitiveOption);
    return pattern.match(text.trimmed()).hasMatch();
}

} // namespace BVMarkerListText
