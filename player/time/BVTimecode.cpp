#include "player/time/BVTimecode.h"

#include "platform/media/MediaFrameRate.h"

#include <QStringView>

#include <array>
#include <cmath>
#include <limits>

namespace {

constexpr int64_t kMaxInt64 = std::numeric_limits<int64_t>::max();
constexpr int64_t kMinInt64 = std::numeric_limits<int64_t>::min();
// Timebases beyond this are nonsense; keeping below it keeps every product in 64 bits.
constexpr int64_t kMaxTimebase = int64_t(1) << 32;

// The frame counts of SMPTE drop-frame counting at one timebase: labels skipped at the start of a
// dropping minute, real frames in ten minutes and real frames in a dropping minute.
struct DropFrameCounts
{
    int64_t dropped = 0;
    int64_t tenMinutes = 0;
    int64_t minute = 0;
    int64_t labelsPerMinute = 0;
    bool usable = false;
};

DropFrameCounts dropFrameCounts(double fps)
{
    DropFrameCounts counts;
    if (!(fps >= 1.0) || fps > double(kMaxTimebase))
        return counts;
    const int64_t timebase = std::llround(fps);
    counts.dropped = std::llround(0.066666 * fps);
    counts.tenMinutes = 600 * timebase - 9 * counts.dropped;
    counts.minute = 60 * timebase - counts.dropped;
    counts.labelsPerMinute = 60 * timebase;
    counts.usable = counts.minute > 0 && counts.tenMinutes > 0;
    return counts;
}

// Division and remainder rounding toward negative infinity, so that counting stays periodic
// below zero.
int64_t floorDiv(int64_t a, int64_t b)
{
    const int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

int64_t floorMod(int64_t a, int64_t b)
{
    const int64_t r = a % b;
    return (r != 0 && ((r < 0) != (b < 0))) ? r + b : r;
}

int64_t saturatingAdd(int64_t a, int64_t b)
{
    int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum))
        return b > 0 ? kMaxInt64 : kMinInt64;
    return sum;
}

bool isDropFrameTimebase(int64_t timebase)
{
    return timebase == 30 || timebase == 60;
}

// The integer a timecode field starts with, read the way the platform reads a string's integer value:
// leading white space, an optional sign, then digits; no digits reads as 0; saturates at 32 bits.
int64_t leadingInteger(QStringView part)
{
    qsizetype i = 0;
    while (i < part.size() && part[i].isSpace())
        ++i;
    bool negative = false;
    if (i < part.size() && (part[i] == u'-' || part[i] == u'+')) {
        negative = part[i] == u'-';
        ++i;
    }
    int64_t value = 0;
    for (; i < part.size() && part[i] >= u'0' && part[i] <= u'9'; ++i) {
        value = value * 10 + (part[i].unicode() - u'0');
        if (value > std::numeric_limits<int32_t>::max()) {
            value = std::numeric_limits<int32_t>::max() + int64_t(negative ? 1 : 0);
            break;
        }
    }
    return negative ? -value : value;
}

} // namespace

QString BVTimecode::timecodeFromFrameCount(
    int64_t frameCount, int64_t timebase, bool ntsc, bool dropFrame, int64_t startFrame)
{
    Q_UNUSED(ntsc)
    if (timebase <= 0)
        timebase = 30;
    timebase = std::min(timebase, kMaxTimebase);
    if (startFrame < 0)
        startFrame = defaultStartFrame;
    const bool drop = dropFrame && isDropFrameTimebase(timebase);

    // Hours wrap at 24, so the total is reduced to one day of real frames first; this also keeps
    // frame counts below the start frame on the previous day instead of printing negative fields.
    const int64_t framesPerDay = drop ? 144 * dropFrameCounts(double(timebase)).tenMinutes : 86400 * timebase;
    int64_t total
        = floorMod(floorMod(frameCount, framesPerDay) + floorMod(startFrame, framesPerDay), framesPerDay);
    if (drop)
        total = addDroppedFrames(total, double(timebase));

    const int64_t seconds = total / timebase;
    const int64_t frames = total % timebase;
    return QString::asprintf(drop ? "%.2lld:%.2lld:%.2lld;%.2lld" : "%.2lld:%.2lld:%.2lld:%.2lld",
        static_cast<long long>((seconds / 3600) % 24), static_cast<long long>((seconds / 60) % 60),
        static_cast<long long>(seconds % 60), static_cast<long long>(frames));
}

int64_t BVTimecode::frameCountFromTimecode(
    const QString &timecode, int64_t timebase, bool ntsc, bool dropFrame, int64_t startFrame)
{
    Q_UNUSED(ntsc)
    if (timebase < 1)
        timebase = 30;
    timebase = std::min(timebase, kMaxTimebase);
    if (startFrame < 0)
        startFrame = defaultStartFrame;
    const bool drop = dropFrame && isDropFrameTimebase(timebase);

    const QStringView text = QStringView(timecode).trimmed();
    std::array<int64_t, 4> fields {};
    qsizetype fieldCount = 0;
    qsizetype partStart = 0;
    for (qsizetype i = 0; i <= text.size() && fieldCount < 4; ++i) {
        if (i == text.size() || text[i] == u':' || text[i] == u';') {
            fields[fieldCount++] = leadingInteger(text.mid(partStart, i - partStart));
            partStart = i + 1;
        }
    }
    if (fieldCount < 4)
        return -1;

    const auto [hours, minutes, seconds, frames] = fields;
    int64_t n = 0;
    if (__builtin_mul_overflow(hours * 3600 + minutes * 60 + seconds, timebase, &n)
        || __builtin_add_overflow(n, frames, &n))
        return -1;
    if (drop)
        n = subtractDroppedFrames(n, double(timebase));
    int64_t relative = 0;
    if (__builtin_sub_overflow(n, startFrame, &relative))
        return -1;
    return relative;
}

QString BVTimecode::timecode(
    const QString &timecode, int64_t incrementBy, int64_t timebase, bool ntsc, bool dropFrame)
{
    const int64_t frames = frameCountFromTimecode(timecode, timebase, ntsc, dropFrame, 0);
    if (frames == -1)
        return {};
    return timecodeFromFrameCount(saturatingAdd(frames, incrementBy), timebase, ntsc, dropFrame, 0);
}

QString BVTimecode::timecodeFromSeconds(double seconds, double fps, bool dropFrame)
{
    // NTSC rates count at their exact value (24000/1001, not 23.976), or a time of day hours into
    // a recording lands a frame early.
    const MediaFrameRate exact = MediaFrameRate::fromFps(fps);
    double frames = std::round(seconds * (exact.isValid() ? exact.fps() : fps));
    if (!(frames > 0))
        frames = 0;
    frames = std::min(frames, 9.0e18);
    const double ceiling = std::ceil(fps);
    const int64_t timebase = ceiling >= 1 && ceiling <= double(kMaxTimebase) ? int64_t(ceiling) : 0;
    const bool ntsc = ceiling != std::floor(fps);
    return timecodeFromFrameCount(int64_t(frames), timebase, ntsc, dropFrame, 0);
}

QString BVTimecode::timecodeFromUserString(
    const QString &userString, bool dropFrame, const QString &startTimecode)
{
    QString text = userString.trimmed();
    // A complete timecode; with periods or commas it is shorthand all the same ("01.00.02.00").
    if (text.size() == 11 && !text.contains(u'.') && !text.contains(u','))
        return text;

    // Each trailing period or comma stands for a pair of zeros.
    static const std::array<std::pair<const char16_t *, const char16_t *>, 8> shorthand = {{
        {u"....", u"00000000"},
        {u"...", u".000000"},
        {u"..", u".0000"},
        {u".", u".00"},
        {u",,,,", u"00000000"},
        {u",,,", u",000000"},
        {u",,", u",0000"},
        {u",", u",00"},
    }};
    for (const auto &[suffix, expansion] : shorthand) {
        const QString trailing = QString::fromUtf16(suffix);
        if (text.endsWith(trailing))
            text = text.left(text.size() - trailing.size()) + QString::fromUtf16(expansion);
    }

    // Single digits between periods and commas are pairs with a leading zero: 1.2.3 is 010203.
    QString digits;
    qsizetype partStart = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == u'.' || text[i] == u',') {
            const QStringView part = QStringView(text).mid(partStart, i - partStart);
            if (part.size() == 1)
                digits += u'0';
            digits += part;
            partStart = i + 1;
        }
    }
    digits.remove(u':');
    digits.remove(u';');
    if (digits.size() > 8)
        digits = digits.right(8);

    // Pairs from the right: the frames, then seconds, minutes and hours; an odd leading digit is
    // a pair with a zero in front.
    QString result = digits;
    if (digits.size() >= 3) {
        result.clear();
        for (qsizetype end = digits.size(); end > 0; end -= 2) {
            const qsizetype start = std::max<qsizetype>(0, end - 2);
            QString pair = digits.mid(start, end - start);
            if (pair.size() == 1)
                pair.prepend(u'0');
            if (!result.isEmpty())
                pair += (end == digits.size() - 2 && dropFrame) ? u';' : u':';
            result.prepend(pair);
        }
    }

    QString templateTimecode = startTimecode;
    if (templateTimecode.isEmpty())
        templateTimecode = dropFrame ? QStringLiteral("00:00:00;00") : QStringLiteral("00:00:00:00");
    if (templateTimecode.size() > result.size())
        return templateTimecode.left(templateTimecode.size() - result.size()) + result;
    return result;
}

int64_t BVTimecode::addDroppedFrames(int64_t frameNumber, double fps)
{
    const DropFrameCounts counts = dropFrameCounts(fps);
    if (!counts.usable)
        return frameNumber;
    const int64_t tens = floorDiv(frameNumber, counts.tenMinutes);
    const int64_t rest = floorMod(frameNumber, counts.tenMinutes);
    int64_t skipped = 9 * counts.dropped * tens;
    if (rest > counts.dropped)
        skipped += counts.dropped * ((rest - counts.dropped) / counts.minute);
    return saturatingAdd(frameNumber, skipped);
}

int64_t BVTimecode::subtractDroppedFrames(int64_t labelCount, double fps)
{
    const DropFrameCounts counts = dropFrameCounts(fps);
    if (!counts.usable)
        return labelCount;
    int64_t minutes = floorDiv(labelCount, counts.labelsPerMinute);
    // A label that drop-frame counting skips (00 and 01 of a minute not divisible by ten at 30)
    // names no frame: it stands for the first real frame after it.
    const int64_t label = floorMod(labelCount, counts.labelsPerMinute);
    if (label < counts.dropped && floorMod(minutes, 10) != 0)
        labelCount = saturatingAdd(labelCount, counts.dropped - label);
    minutes = floorDiv(labelCount, counts.labelsPerMinute);
    return saturatingAdd(labelCount, -counts.dropped * (minutes - floorDiv(minutes, 10)));
}
