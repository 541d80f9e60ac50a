#pragma once

#include <QString>
#include <QStringList>

// The marker colour index, 0 to 10: none, red, yellow, orange, green, blue, turquoise, pink,
// purple, white, black. It picks the tag colour, the annotation stroke colour and the colour words
// of the marker list formats. Stateless; any thread.
class BVMarkerColor
{
public:
    BVMarkerColor() = delete;

    static constexpr int count = 11;
    // The colour names in index order, as the colour pop-ups list them.
    static QStringList names();
    // The index an entry reads as: out-of-range values count as 0.
    static int clamp(int index) { return index >= 0 && index < count ? index : 0; }

    // 7-column lists: "Red" ... "Purple" (case-sensitive); other words read as 0.
    static int fromFCP7Word(const QString &word);
    // The word of indices 2 to 8; "Red" for every other index.
    static QString fcp7Word(int index);
    // 5-column lists: "red", "yellow", "green", "blue", "cyan", "magenta", "white", "black".
    static int fromAvidWord(const QString &word);
    // The word of indices 2, 4, 5, 6, 7, 9 and 10; "red" for every other index.
    static QString avidWord(int index);
    // The SVG stroke colour of an annotation drawn at an index ("#bbb" for 0 and unknown).
    static QString annotationHTMLColor(int index);
};
