#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

// Reads the start timecode of a Broadcast Wave file from its "bext" chunk, and the timecode rate a
// field recorder wrote in its "iXML" chunk. Class operations that
// read the file synchronously: call them off the main thread.
class BVAudioFileParser
{
public:
    BVAudioFileParser() = delete;

    // The fields of a Broadcast Wave file that its start timecode is made from.
    struct BroadcastHeader
    {
        uint32_t sampleRate = 0;
        // Samples from midnight to the first sample.
        uint64_t timeReference = 0;
    };

    // The timecode rate and counting a recorder named in iXML (TIMECODE_RATE, TIMECODE_FLAG).
    struct RecorderRate
    {
        double fps = 0;
        // "DF" at 29.97 or 59.94; a flag at other rates counts nothing.
        bool dropFrame = false;
    };

    // The start timecode of the file at the path, or none when it is not a RIFF WAVE file or has no
    // usable "fmt " and "bext" chunks.
    static std::optional<QString> timecodeFromBWF(const QString &path, double fps, bool dropFrame);
    // The same, answering the default instead of none.
    static QString timecodeFromBWF(
        const QString &path, double fps, bool dropFrame, const QString &defaultTimecode);
    // Walks the file's RIFF chunks, in any order and with any others between them, for the sample
    // rate of "fmt " and the time reference of "bext"; none (and a log line) when either is missing.
    static std::optional<BroadcastHeader> broadcastHeader(const QString &path);
    // The rate of the file's iXML chunk; none without one or without a readable TIMECODE_RATE.
    static std::optional<RecorderRate> recorderRate(const QString &path);
    // The same, from the chunk's text.
    static std::optional<RecorderRate> recorderRateFromIxml(const QByteArray &ixml);
};
