#include "markers/BVMarkerColor.h"

#include <array>

namespace {

// Index order; an empty word means the index has none in that layout.
const std::array<const char *, BVMarkerColor::count> fcp7Words
    = {"", "Red", "Yellow", "Orange", "Green", "Blue", "Turquoise", "Pink", "Purple", "", ""};
const std::array<const char *, BVMarkerColor::count> avidWords
    = {"", "red", "yellow", "", "green", "blue", "cyan", "magenta", "", "white", "black"};
const std::array<const char *, BVMarkerColor::count> htmlColors = {"#bbb", "#ff6554", "#f8f876", "#ffa255",
    "#58ff55", "#5585ff", "#55daff", "#ffa1c5", "#c455ff", "#fff", "#000"};

int indexOf(const std::array<const char *, BVMarkerColor::count> &words, const QString &word)
{
    if (word.isEmpty())
        return 0;
    for (int i = 0; i < BVMarkerColor::count; ++i)
        if (word == QLatin1String(words[size_t(i)]))
            return i;
    return 0;
}

} // namespace

QStringList BVMarkerColor::names()
{
    return {QStringLiteral("None"), QStringLiteral("Red"), QStringLiteral("Yellow"), QStringLiteral("Orange"),
        QStringLiteral("Green"), QStringLiteral("Blue"), QStringLiteral("Turquoise"), QStringLiteral("Pink"),
        QStringLiteral("Purple"), QStringLiteral("White"), QStringLiteral("Black")};
}

int BVMarkerColor::fromFCP7Word(const QString &word)
{
    return indexOf(fcp7Words, word);
}

QString BVMarkerColor::fcp7Word(int index)
{
    const char *word = fcp7Words[size_t(clamp(index))];
    return *word ? QString::fromLatin1(word) : QStringLiteral("Red");
}

int BVMarkerColor::fromAvidWord(const QString &word)
{
    return indexOf(avidWords, word);
}

QString BVMarkerColor::avidWord(int index)
{
    const char *word = avidWords[size_t(clamp(index))];
    return *word ? QString::fromLatin1(word) : QStringLiteral("red");
}

QString BVMarkerColor::annotationHTMLColor(int index)
{
    return QString::fromLatin1(htmlColors[size_t(clamp(index))]);
}
