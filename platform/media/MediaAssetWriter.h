#pragma once

#include "platform/media/MediaAssetWriterInput.h"
#include "platform/media/MediaTime.h"
#include "support/BVError.h"

#include <QString>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

class MediaAssetTrackOutput;
struct AVFormatContext;
struct AVPacket;

// Writes a QuickTime movie from the samples its inputs are given, with the FFmpeg libraries.
// Inputs are added before startWriting(); each input appends from its own queue, the writer
// serialises what reaches the file. finishWriting() and cancelWriting() run on one queue after
// every input has finished.
class MediaAssetWriter
{
public:
    enum class Status { Unknown, Writing, Completed, Failed, Cancelled };

    // A writer for a new movie at the path; none (and *error) when it cannot be made.
    static std::unique_ptr<MediaAssetWriter> writerWithPath(const QString &path, BVError *error);
    ~MediaAssetWriter();
    MediaAssetWriter(const MediaAssetWriter &) = delete;
    MediaAssetWriter &operator=(const MediaAssetWriter &) = delete;

    // A video or audio input fed from the track output (started): encoded with the settings, or,
    // without settings, taking the output's stored samples unchanged.
    MediaAssetWriterInput *addVideoInput(
        const MediaAssetTrackOutput &source, const std::optional<MediaVideoSettings> &settings);
    MediaAssetWriterInput *addAudioInput(
        const MediaAssetTrackOutput &source, const std::optional<MediaAudioSettings> &settings);
    // The timecode track, associated with the video input (an audio-only movie has none).
    MediaAssetWriterInput *addTimecodeInput(MediaAssetWriterInput *associatedInput);

    bool startWriting();
    // Times of the asset's time line at the session start become time 0 of the movie.
    void startSessionAtSourceTime(const MediaTime &time);
    // Nothing at or after this time of the asset's time line is shown (stored pictures past it,
    // needed to decode those before it, are hidden by the movie's edit list).
    void endSessionAtSourceTime(const MediaTime &time);
    // Writes the movie's index and closes it. False (and the error) on failure.
    bool finishWriting();
    // Stops and removes the partial file.
    void cancelWriting();
    Status status() const { return m_status.load(); }
    BVError error() const;
    const QString &path() const { return m_path; }

private:
    friend class MediaAssetWriterInput;
    explicit MediaAssetWriter(QString path);
    // Writes one encoded packet of an input, in the input stream's time base. Any thread.
    bool writePacket(MediaAssetWriterInput *input, AVPacket *packet, int tbNum, int tbDen);
    void inputAppended(MediaAssetWriterInput *input, double seconds);
    void inputFinished(MediaAssetWriterInput *input);
    bool readyLocked(const MediaAssetWriterInput *input) const;
    void wakeWaitingLocked(std::vector<MediaAssetWriterInput *> &wake);
    void setFailed(int code, const QString &description);
    void closeFile();
    void hideTrailingPictures();

    QString m_path;
    AVFormatContext *m_format = nullptr;
    std::vector<std::unique_ptr<MediaAssetWriterInput>> m_inputs;
    MediaAssetWriterInput *m_timecodeFor = nullptr;
    MediaTime m_sessionStart = MediaTime::zero();
    std::atomic<Status> m_status {Status::Unknown};
    mutable std::mutex m_mutex; // guards the file, the error and the inputs' shared state
    BVError m_error;
    MediaTime m_sessionEnd = MediaTime::invalid();
};
