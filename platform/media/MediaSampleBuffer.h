#pragma once

#include "platform/media/MediaTime.h"

#include <QByteArray>

// One sample buffer out of an asset reader: the bytes of a compressed sample (a reader without
// output settings) or a run of decoded audio frames, with its time.
class MediaSampleBuffer
{
public:
    MediaSampleBuffer() = default;
    MediaSampleBuffer(
        QByteArray data, const MediaTime &presentationTime, const MediaTime &duration, int64_t sampleCount)
        : m_data(std::move(data))
        , m_presentationTime(presentationTime)
        , m_duration(duration)
        , m_sampleCount(sampleCount)
    { }

    const QByteArray &data() const { return m_data; }
    const MediaTime &presentationTime() const { return m_presentationTime; }
    const MediaTime &duration() const { return m_duration; }
    // Samples in the buffer: 1 for a compressed sample, the frame count of decoded audio.
    int64_t sampleCount() const { return m_sampleCount; }

private:
    QByteArray m_data;
    MediaTime m_presentationTime;
    MediaTime m_duration;
    int64_t m_sampleCount = 0;
};
