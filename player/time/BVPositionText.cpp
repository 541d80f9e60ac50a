#include "player/time/BVPositionText.h"

#include "platform/defaults/BVUserDefaults.h"
#include "player/media/BVMediaObject.h"
#include "player/time/BVTimecode.h"

#include <algorithm>

namespace {

// Digits and the separators a typed timecode may hold.
bool isTimecodeText(const QString &text)
{
    if (text.isEmpty())
        return false;
    bool digit = false;
    for (const QChar c : text) {
        if (c.isDigit())
            digit = true;
        else if (c != u':' && c != u';' && c != u'.' && c != u',')
            return false;
    }
    return digit;
}

std::optional<int64_t> parseCount(const QString &text)
{
    if (text.isEmpty())
        return std::nullopt;
    for (const QChar c : text)
        if (!c.isDigit())
            return std::nullopt;
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok);
    return ok ? std::optional<int64_t>(value) : std::nullopt;
}

} // namespace

BVPositionText::Mode BVPositionText::displayMode()
{
    const qlonglong mode
        = BVUserDefaults::standardUserDefaults()->integerForKey(QStringLiteral("timecodeDisplay"));
    return mode == ZeroTimecode || mode == FrameNumber ? Mode(mode) : Timecode;
}

QString BVPositionText::durationText(const BVMediaObject &media, Mode mode)
{
    const uint64_t frames = media.frameCount();
    if (mode == FrameNumber)
        return QString::number(frames);
    return BVTimecode::timecodeFromFrameCount(int64_t(frames), media.timebase(), media.ntsc(), false, 0);
}

QString BVPositionText::startText(Mode mode)
{
    return mode == FrameNumber ? QStringLiteral("0") : BVTimecode::zeroTimecode();
}

QString BVPositionText::textForFrame(const BVMediaObject &media, int64_t frame, Mode mode)
{
    // At the end (the duration) the last frame is on screen.
    if (const uint64_t count = media.frameCount(); count > 0)
        frame = std::min<int64_t>(frame, int64_t(count) - 1);
    frame = std::max<int64_t>(0, frame);
    switch (mode) {
    case FrameNumber:
        return QString::number(frame);
    case ZeroTimecode:
        return media.timecodeForFrame(frame, BVTimecode::zeroTimecode());
    case Timecode:
        break;
    }
    return media.timecodeForFrame(frame, media.timecodeStart());
}

QString BVPositionText::textForLength(int64_t frames, int64_t timebase, bool ntsc, Mode mode)
{
    if (mode == FrameNumber)
        return QString::number(frames);
    return BVTimecode::timecodeFromFrameCount(frames, timebase, ntsc, false, 0);
}

QString BVPositionText::textAtTime(const BVMediaObject &media, const MediaTime &time, Mode mode)
{
    return textForFrame(media, media.frameAtTime(time), mode);
}

QString BVPositionText::currentText(const BVMediaObject &media, Mode mode)
{
    return textForFrame(media, int64_t(media.currentFrame()), mode);
}

std::optional<int64_t> BVPositionText::frameForTypedText(
    const BVMediaObject &media, const QString &typed, Mode mode, int64_t currentFrame)
{
    const QString text = typed.trimmed();
    if (text.isEmpty())
        return std::nullopt;
    if (text.startsWith(u'+') || text.startsWith(u'-')) {
        const std::optional<int64_t> offset = parseCount(text.mid(1));
        if (!offset)
            return std::nullopt;
        const int64_t frame = text.startsWith(u'-') ? currentFrame - *offset : currentFrame + *offset;
        return std::max<int64_t>(0, frame);
    }
    if (mode == FrameNumber)
        return parseCount(text);
    if (!isTimecodeText(text))
        return std::nullopt;
    const bool drop = media.dropFrame();
    QString start = mode == ZeroTimecode ? BVTimecode::zeroTimecode() : media.timecodeStart();
    if (start.isEmpty())
        start = BVTimecode::zeroTimecode();
    const QString full = BVTimecode::timecodeFromUserString(text, drop, start);
    const int64_t base = media.timebase();
    const int64_t startFrame
        = std::max<int64_t>(0, BVTimecode::frameCountFromTimecode(start, base, media.ntsc(), drop, 0));
    const int64_t absolute = BVTimecode::frameCountFromTimecode(full, base, media.ntsc(), drop, 0);
    if (absolute < 0)
        return std::nullopt;
    return std::max<int64_t>(0, absolute - startFrame);
}
