#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

class BVMediaObject;

// MIDI Time Code as receivers read it: a full-frame message for a locate, and eight quarter-frame
// pieces, two frames' worth, while playing. The rate code (hours byte bits 5-6 and piece 7):
// 0 = 24, 1 = 25, 2 = 29.97 drop-frame, 3 = 30 fps.
struct BVMIDITimecode
{
    enum RateCode { Fps24 = 0, Fps25 = 1, Fps2997Drop = 2, Fps30 = 3 };

    int hours = 0;
    int minutes = 0;
    int seconds = 0;
    int frames = 0;
    int rateCode = Fps24;

    bool operator==(const BVMIDITimecode &) const = default;

    // The fields of "hh:mm:ss:ff" (";" before the frames when drop-frame), the frames divided by
    // framesPerUnit; none when it does not have four numeric fields.
    static std::optional<BVMIDITimecode> fromString(
        const QString &timecode, int rateCode, int framesPerUnit = 1);

    // F0 7F 7F 01 01 hh mm ss ff F7, the rate code in bits 5-6 of hh.
    QByteArray fullFrameMessage() const;
    // F1 and piece << 4 | nibble, for pieces 0 (frames low nibble) to 7 (rate code and hours high bit).
    QByteArray quarterFrameMessage(int piece) const;
    QString text() const;
};

// How a medium's frames go out as MIDI Time Code: the rate code that names its timecode and how many
// of its frames make one MIDI Time Code frame (2 at 48, 50, 59.94 and 60 fps, whose every second
// frame is sent as 24, 25, 29.97 drop-frame and 30; 1 otherwise). 23.976 is sent as 24 and 29.97
// without drop-frame as 30, paced at the medium's own rate.
struct BVMIDITimecodeRule
{
    int rateCode = BVMIDITimecode::Fps24;
    int framesPerUnit = 1;

    static BVMIDITimecodeRule forTimebase(long long timebase, bool dropFrame);
    static BVMIDITimecodeRule forMedia(const BVMediaObject &media);
};
