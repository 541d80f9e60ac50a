#include "platform/media/MediaAssetWriter.h"

#include "platform/media/MediaAssetProbe.h"
#include "platform/media/MediaAssetTrackOutput.h"
#include "platform/media/MediaMovieEditList.h"
#include "support/BVLog.h"
#include "support/BVWorkQueue.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mathematics.h>
}

#include <QFile>

namespace {

// Far enough ahead for the muxer to interleave in chunks, near enough to keep memory small.
constexpr double maximumLeadSeconds = 2.0;

} // namespace

std::unique_ptr<MediaAssetWriter> MediaAssetWriter::writerWithPath(const QString &path, BVError *error)
{
    std::unique_ptr<MediaAssetWriter> writer(new MediaAssetWriter(path));
    const QByteArray local = QFile::encodeName(path);
    const int result = avformat_alloc_output_context2(&writer->m_format, nullptr, "mov", local.constData());
    if (result < 0 || !writer->m_format) {
        if (error)
            *error = MediaAssetProbe::errorFromCode(
                result, QStringLiteral("The movie could not be created."), path);
        return nullptr;
    }
    return writer;
}

MediaAssetWriter::MediaAssetWriter(QString path)
    : m_path(std::move(path))
{ }

MediaAssetWriter::~MediaAssetWriter()
{
    if (m_status.load() == Status::Writing)
        cancelWriting();
    m_inputs.clear();
    closeFile();
}

MediaAssetWriterInput *MediaAssetWriter::addVideoInput(
    const MediaAssetTrackOutput &source, const std::optional<MediaVideoSettings> &settings)
{
    auto input = std::unique_ptr<MediaAssetWriterInput>(
        new MediaAssetWriterInput(this, MediaAssetWriterInput::Kind::Video));
    input->m_video = settings;
    input->m_source = avcodec_parameters_alloc();
    if (source.codecParameters())
        avcodec_parameters_copy(input->m_source, source.codecParameters());
    input->m_sourceTbNum = source.timeBaseNum();
    input->m_sourceTbDen = source.timeBaseDen();
    input->m_rateNum = source.frameRateNum();
    input->m_rateDen = source.frameRateDen();
    m_inputs.push_back(std::move(input));
    return m_inputs.back().get();
}

MediaAssetWriterInput *MediaAssetWriter::addAudioInput(
    const MediaAssetTrackOutput &source, const std::optional<MediaAudioSettings> &settings)
{
    auto input = std::unique_ptr<MediaAssetWriterInput>(
        new MediaAssetWriterInput(this, MediaAssetWriterInput::Kind::Audio));
    input->m_audio = settings;
    input->m_source = avcodec_parameters_alloc();
    if (source.codecParameters())
        avcodec_parameters_copy(input->m_source, source.codecParameters());
    input->m_sourceTbNum = source.timeBaseNum();
    input->m_sourceTbDen = source.timeBaseDen();
    m_inputs.push_back(std::move(input));
    return m_inputs.back().get();
}

MediaAssetWriterInput *MediaAssetWriter::addTimecodeInput(MediaAssetWriterInput *associatedInput)
{
    auto input = std::unique_ptr<MediaAssetWriterInput>(
        new MediaAssetWriterInput(this, MediaAssetWriterInput::Kind::Timecode));
    m_timecodeFor = associatedInput;
    m_inputs.push_back(std::move(input));
    return m_inputs.back().get();
}

void MediaAssetWriter::setFailed(int code, const QString &description)
{
    // Called with m_mutex held or before writing started.
    if (m_status.load() == Status::Failed)
        return;
    m_error = MediaAssetProbe::errorFromCode(code, description, m_path);
    m_status.store(Status::Failed);
    BVLog::appendLog("Movie writer failed: %@", m_error.description());
}

bool MediaAssetWriter::startWriting()
{
    if (m_status.load() != Status::Unknown)
        return false;
    const bool globalHeader = m_format->oformat->flags & AVFMT_GLOBALHEADER;
    MediaAssetWriterInput *timecode = nullptr;
    AVStream *videoStream = nullptr;
    for (const std::unique_ptr<MediaAssetWriterInput> &input : m_inputs) {
        if (input->kind() == MediaAssetWriterInput::Kind::Timecode) {
            timecode = input.get();
            continue;
        }
        AVStream *stream = avformat_new_stream(m_format, nullptr);
        if (!stream) {
            setFailed(AVERROR(ENOMEM), QStringLiteral("The movie could not be created."));
            return false;
        }
        input->m_streamIndex = stream->index;
        if (!input->openEncoder(stream, globalHeader))
            return false;
        if (input.get() == m_timecodeFor && input->kind() == MediaAssetWriterInput::Kind::Video)
            videoStream = stream;
    }
    if (timecode && !timecode->timecode().isEmpty()) {
        if (videoStream)
            av_dict_set(&videoStream->metadata, "timecode", timecode->timecode().toUtf8().constData(), 0);
        else
            BVLog::appendLog("Movie writer: a movie without video carries no timecode track");
    }
    const QByteArray local = QFile::encodeName(m_path);
    int result = avio_open(&m_format->pb, local.constData(), AVIO_FLAG_WRITE);
    if (result < 0) {
        setFailed(result, QStringLiteral("The movie file could not be opened for writing."));
        return false;
    }
    AVDictionary *options = nullptr;
    if (videoStream && videoStream->time_base.den > 0)
        av_dict_set_int(&options, "movie_timescale", videoStream->time_base.den, 0);
    result = avformat_write_header(m_format, &options);
    av_dict_free(&options);
    if (result < 0) {
        setFailed(result, QStringLiteral("The movie could not be started."));
        closeFile();
        QFile::remove(m_path);
        return false;
    }
    m_status.store(Status::Writing);
    return true;
}

void MediaAssetWriter::startSessionAtSourceTime(const MediaTime &time)
{
    m_sessionStart = time.isNumeric() ? time : MediaTime::zero();
    for (const std::unique_ptr<MediaAssetWriterInput> &input : m_inputs) {
        if (input->m_sourceTbDen > 0 && input->m_sourceTbNum > 0)
            input->m_sessionOffset
                = av_rescale_q_rnd(m_sessionStart.value(), AVRational {1, m_sessionStart.timescale()},
                    AVRational {input->m_sourceTbNum, input->m_sourceTbDen}, AV_ROUND_NEAR_INF);
    }
}

void MediaAssetWriter::endSessionAtSourceTime(const MediaTime &time)
{
    m_sessionEnd = time;
}

bool MediaAssetWriter::writePacket(MediaAssetWriterInput *input, AVPacket *packet, int tbNum, int tbDen)
{
    std::lock_guard guard(m_mutex);
    if (m_status.load() != Status::Writing)
        return false;
    AVStream *stream = m_format->streams[input->m_streamIndex];
    av_packet_rescale_ts(packet, AVRational {tbNum, tbDen}, stream->time_base);
    packet->stream_index = input->m_streamIndex;
    if (packet->pts != AV_NOPTS_VALUE)
        input->m_shownEnd = std::max(input->m_shownEnd, packet->pts + std::max<int64_t>(packet->duration, 0));
    const int result = av_interleaved_write_frame(m_format, packet);
    if (result < 0) {
        setFailed(result, QStringLiteral("The movie could not be written."));
        return false;
    }
    return true;
}

bool MediaAssetWriter::readyLocked(const MediaAssetWriterInput *input) const
{
    if (input->m_finished || m_status.load() != Status::Writing)
        return false;
    for (const std::unique_ptr<MediaAssetWriterInput> &other : m_inputs) {
        if (other.get() == input || other->m_finished || !other->m_queue
            || other->kind() == MediaAssetWriterInput::Kind::Timecode)
            continue;
        if (input->m_lastSeconds > other->m_lastSeconds + maximumLeadSeconds)
            return false;
    }
    return true;
}

void MediaAssetWriter::wakeWaitingLocked(std::vector<MediaAssetWriterInput *> &wake)
{
    for (const std::unique_ptr<MediaAssetWriterInput> &other : m_inputs) {
        if (other->m_waiting && readyLocked(other.get())) {
            other->m_waiting = false;
            wake.push_back(other.get());
        }
    }
}

void MediaAssetWriter::inputAppended(MediaAssetWriterInput *input, double seconds)
{
    std::vector<MediaAssetWriterInput *> wake;
    {
        std::lock_guard guard(m_mutex);
        input->m_lastSeconds = seconds;
        wakeWaitingLocked(wake);
    }
    for (MediaAssetWriterInput *other : wake)
        other->m_queue->async([other] { other->runBlock(); });
}

void MediaAssetWriter::inputFinished(MediaAssetWriterInput *input)
{
    std::vector<MediaAssetWriterInput *> wake;
    {
        std::lock_guard guard(m_mutex);
        input->m_finished = true;
        input->m_waiting = false;
        wakeWaitingLocked(wake);
    }
    for (MediaAssetWriterInput *other : wake)
        other->m_queue->async([other] { other->runBlock(); });
}

bool MediaAssetWriter::finishWriting()
{
    std::unique_lock lock(m_mutex);
    if (m_status.load() != Status::Writing)
        return false;
    int result = av_write_trailer(m_format);
    if (result >= 0 && m_format->pb)
        result = m_format->pb->error;
    if (result < 0) {
        setFailed(result, QStringLiteral("The movie could not be finished."));
        lock.unlock();
        closeFile();
        QFile::remove(m_path);
        return false;
    }
    std::vector<MediaMovieEditList::TrackEnd> ends;
    if (m_sessionEnd.isNumeric()) {
        for (const std::unique_ptr<MediaAssetWriterInput> &input : m_inputs) {
            if (input->kind() != MediaAssetWriterInput::Kind::Video || !input->isPassthrough())
                continue;
            const AVStream *stream = m_format->streams[input->m_streamIndex];
            const MediaTime length = m_sessionEnd - m_sessionStart;
            const int64_t end = av_rescale_q_rnd(
                length.value(), AVRational {1, length.timescale()}, stream->time_base, AV_ROUND_NEAR_INF);
            if (input->m_shownEnd > end)
                ends.push_back(
                    {input->m_streamIndex, MediaTime(end * stream->time_base.num, stream->time_base.den)});
        }
    }
    closeFile();
    m_status.store(Status::Completed);
    lock.unlock();
    if (!ends.empty() && !MediaMovieEditList::limitTracks(m_path, ends))
        BVLog::appendLog("Movie writer: the edit list of %@ could not be shortened", m_path);
    return true;
}

void MediaAssetWriter::cancelWriting()
{
    std::unique_lock lock(m_mutex);
    const Status status = m_status.load();
    if (status == Status::Completed || status == Status::Cancelled)
        return;
    m_status.store(Status::Cancelled);
    lock.unlock();
    closeFile();
    if (status == Status::Writing || QFile::exists(m_path))
        QFile::remove(m_path);
}

void MediaAssetWriter::closeFile()
{
    if (!m_format)
        return;
    if (m_format->pb)
        avio_closep(&m_format->pb);
    avformat_free_context(m_format);
    m_format = nullptr;
}

BVError MediaAssetWriter::error() const
{
    std::lock_guard guard(m_mutex);
    return m_error;
}
