#pragma once

#include <QSize>
#include <QString>

#include <cstdint>
#include <optional>

// Video codec identifiers of the movie writer: the four-character codes written into the movie.
namespace MediaVideoCodec {
inline const QString h264 = QStringLiteral("avc1");
inline const QString proRes422 = QStringLiteral("apcn");
inline const QString proRes422HQ = QStringLiteral("apch");
inline const QString proRes422LT = QStringLiteral("apcs");
inline const QString proRes422Proxy = QStringLiteral("apco");
inline const QString proRes4444 = QStringLiteral("ap4h");
inline const QString jpeg = QStringLiteral("jpeg");
} // namespace MediaVideoCodec

// The clean aperture of a picture: its size and the offset of its centre, in pixels.
struct MediaCleanAperture
{
    double width = 0;
    double height = 0;
    double horizontalOffset = 0;
    double verticalOffset = 0;
};

// How a writer input encodes pictures.
struct MediaVideoSettings
{
    QString codec = MediaVideoCodec::h264;
    QSize size;
    // Bits per second, H.264 only; 0 leaves the rate to the encoder.
    double averageBitRate = 0;
    // H.264: at most this many frames from one key frame to the next; 0 = the encoder's choice.
    int maxKeyFrameInterval = 0;
    // H.264: at most this many seconds from one key frame to the next; 0 = the encoder's choice.
    double maxKeyFrameIntervalDuration = 0;
    // Display geometry carried over from the source (kept only when the size is kept).
    std::optional<MediaCleanAperture> cleanAperture;
    int pixelAspectHorizontal = 0;
    int pixelAspectVertical = 0;
};

// How a writer input encodes audio. formatID is a four-character format code ('lpcm', 'aac ',
// 'alac'); channelLayoutTag one of the channel layout tags (mono 0x640001, stereo 0x650002 ...).
struct MediaAudioSettings
{
    uint32_t formatID = 0;
    int sampleRate = 48000;
    uint32_t channelLayoutTag = 0x650002;
    int channelCount = 2;
    int bitRate = 128000; // AAC
    int bitDepth = 16; // LPCM; ALAC's bit-depth hint
    bool bigEndian = false; // LPCM
    bool floatingPoint = false; // LPCM
};
