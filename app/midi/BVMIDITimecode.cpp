#include "app/midi/BVMIDITimecode.h"

#include "player/media/BVMediaObject.h"

#include <QRegularExpression>

#include <algorithm>

std::optional<BVMIDITimecode> BVMIDITimecode::fromString(
    const QString &timecode, int rateCode, int framesPerUnit)
{
    static const QRegularExpression separators(QStringLiteral("[:;]"));
    const QStringList parts = timecode.left(11).split(separators);
    if (parts.size() != 4)
        return std::nullopt;
    int values[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        values[i] = parts[i].toInt(&ok);
        if (!ok || values[i] < 0)
            return std::nullopt;
    }
    BVMIDITimecode result;
    result.hours = values[0] % 24;
    result.minutes = values[1];
    result.seconds = values[2];
    result.frames = values[3] / std::max(1, framesPerUnit);
    result.rateCode = rateCode;
    return result;
}

QByteArray BVMIDITimecode::fullFrameMessage() const
{
    QByteArray message("\xF0\x7F\x7F\x01\x01", 5);
    message.append(char(((rateCode & 3) << 5) | (hours & 0x1F)));
    message.append(char(minutes & 0x3F));
    message.append(char(seconds & 0x3F));
    message.append(char(frames & 0x1F));
    message.append(char(0xF7));
    return message;
}

QByteArray BVMIDITimecode::quarterFrameMessage(int piece) const
{
    int nibble = 0;
    switch (piece) {
    case 0:
        nibble = frames & 0x0F;
        break;
    case 1:
        nibble = (frames >> 4) & 0x01;
        break;
    case 2:
        nibble = seconds & 0x0F;
        break;
    case 3:
        nibble = (seconds >> 4) & 0x03;
        break;
    case 4:
        nibble = minutes & 0x0F;
        break;
    case 5:
        nibble = (minutes >> 4) & 0x03;
        break;
    case 6:
        nibble = hours & 0x0F;
        break;
    default:
        nibble = ((rateCode & 3) << 1) | ((hours >> 4) & 0x01);
        break;
    }
    QByteArray message;
    message.append(char(0xF1));
    message.append(char(((piece & 7) << 4) | nibble));
    return message;
}

QString BVMIDITimecode::text() const
{
    return QString::asprintf(
        "%02d:%02d:%02d%c%02d", hours, minutes, seconds, rateCode == Fps2997Drop ? ';' : ':', frames);
}

BVMIDITimecodeRule BVMIDITimecodeRule::forTimebase(long long timebase, bool dropFrame)
{
    BVMIDITimecodeRule rule;
    rule.framesPerUnit = timebase > 30 ? int((timebase + 29) / 30) : 1;
    const long long unitBase = timebase / rule.framesPerUnit;
    if (unitBase <= 24)
        rule.rateCode = BVMIDITimecode::Fps24;
    else if (unitBase == 25)
        rule.rateCode = BVMIDITimecode::Fps25;
    else
        rule.rateCode = dropFrame ? BVMIDITimecode::Fps2997Drop : BVMIDITimecode::Fps30;
    return rule;
}

BVMIDITimecodeRule BVMIDITimecodeRule::forMedia(const BVMediaObject &media)
{
    return forTimebase(media.timebase(), media.dropFrame());
}
