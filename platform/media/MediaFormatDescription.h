#pragma once

#include "platform/media/MediaTime.h"

#include <QSize>
#include <QString>
#include <QVariantMap>

#include <cstdint>
#include <optional>

// The layout of an audio stream as the asset describes it.
struct MediaAudioStreamBasicDescription
{
    double sampleRate = 0;
    uint32_t formatID = 0; // four-character code: 'lpcm', 'aac ', '.mp3' ...
    uint32_t formatFlags = 0;
    uint32_t bytesPerPacket = 0;
    uint32_t framesPerPacket = 0;
    uint32_t bytesPerFrame = 0;
    uint32_t channelsPerFrame = 0;
    uint32_t bitsPerChannel = 0; // 0 for compressed formats
};

// How the samples of a track are coded: media type and subtype as four-character codes, the
// extensions ("FormatName" ...), and per media type the audio stream description, the video
// dimensions, or the timecode flags and frame quanta.
class MediaFormatDescription
{
public:
    // Bit 0 of the timecode flags: the timecode counts drop-frame.
    static constexpr uint32_t TimecodeFlagDropFrame = 1;

    static constexpr uint32_t fourCC(const char (&code)[5])
    {
        return uint32_t(uint8_t(code[0])) << 24 | uint32_t(uint8_t(code[1])) << 16
            | uint32_t(uint8_t(code[2])) << 8 | uint32_t(uint8_t(code[3]));
    }
    // The code as four characters, unprintable bytes as '?'.
    static QString fourCCString(uint32_t code);

    MediaFormatDescription() = default;
    MediaFormatDescription(uint32_t mediaType, uint32_t mediaSubType)
        : m_mediaType(mediaType)
        , m_mediaSubType(mediaSubType)
    { }

    uint32_t mediaType() const { return m_mediaType; }
    uint32_t mediaSubType() const { return m_mediaSubType; }
    const QVariantMap &extensions() const { return m_extensions; }
    void setExtension(const QString &key, const QVariant &value) { m_extensions.insert(key, value); }
    // The "FormatName" extension (a codec name such as "H.264"); empty when none.
    QString formatName() const { return m_extensions.value(QStringLiteral("FormatName")).toString(); }
    // The decoder library's short name of the codec ("h264", "pcm_s24le" ...).
    const QString &codecName() const { return m_codecName; }
    void setCodecName(const QString &name) { m_codecName = name; }

    const std::optional<MediaAudioStreamBasicDescription> &audioStreamBasicDescription() const
    {
        return m_asbd;
    }
    void setAudioStreamBasicDescription(const MediaAudioStreamBasicDescription &asbd) { m_asbd = asbd; }
    QSize dimensions() const { return m_dimensions; }
    void setDimensions(const QSize &size) { m_dimensions = size; }

    uint32_t timecodeFlags() const { return m_timecodeFlags; }
    void setTimecodeFlags(uint32_t flags) { m_timecodeFlags = flags; }
    // Frames per second the timecode counts in.
    uint32_t frameQuanta() const { return m_frameQuanta; }
    void setFrameQuanta(uint32_t quanta) { m_frameQuanta = quanta; }
    const MediaTime &frameDuration() const { return m_frameDuration; }
    void setFrameDuration(const MediaTime &duration) { m_frameDuration = duration; }

    // "soun/aac " style summary with the type-specific fields, for log lines.
    QString description() const;

private:
    uint32_t m_mediaType = 0;
    uint32_t m_mediaSubType = 0;
    QVariantMap m_extensions;
    QString m_codecName;
    std::optional<MediaAudioStreamBasicDescription> m_asbd;
    QSize m_dimensions;
    uint32_t m_timecodeFlags = 0;
    uint32_t m_frameQuanta = 0;
    MediaTime m_frameDuration;
};
