#pragma once

#include "platform/media/MediaMetadataItem.h"
#include "platform/media/MediaTime.h"
#include "platform/media/MediaTimedMetadataGroup.h"
#include "platform/media/MediaTrack.h"
#include "support/BVError.h"

#include <QDateTime>
#include <QList>
#include <QStringList>

#include <atomic>
#include <optional>

struct AVFormatContext;

// What loading an asset found out.
struct MediaAssetInfo
{
    QList<MediaTrack> tracks;
    // Counted from the first presented frame (startTime), as every track's time range is.
    MediaTime duration = MediaTime::invalid();
    // Where the first presented frame lies on the container's own clock (a transport stream's
    // capture clock, a reordering delay); zero when the container starts at zero.
    MediaTime startTime = MediaTime::zero();
    bool playable = false;
    bool readable = false;
    QDateTime creationDate;
    QList<MediaMetadataItem> metadata;
    QStringList chapterLocales;
    QList<MediaTimedMetadataGroup> chapters;
    // The start timecode the container or a stream states in a "timecode" tag (MXF, and MOV/MP4
    // written without a timecode track); empty when none does.
    QString timecodeTag;
};

// Opens a container with the FFmpeg libraries and describes it. Runs on any thread; blocking.
class MediaAssetProbe
{
public:
    // Error domain of the asset layer; codes are FFmpeg's negative error numbers.
    static const QString errorDomain;

    // Describes the media at a location (local path or URL text). A set cancel flag interrupts
    // network reads. Answers none and fills *error on failure.
    static std::optional<MediaAssetInfo> probe(
        const QString &location, const std::atomic<bool> *cancel, BVError *error);

    // Opens the container and reads its stream information; the caller frees it with
    // avformat_close_input(). Network reads time out after 20 s without data.
    static AVFormatContext *openInput(
        const QString &location, const std::atomic<bool> *cancel, BVError *error);
    // Whether FFmpeg knows the container of a local file by its contents (its first bytes), not by
    // its name alone. Reads at most 64 KiB; answers false for files that cannot be read.
    static bool recognizesContents(const QString &path);
    // The end of a stream on the container's clock (the latest presented frame's end), read from the
    // last megabytes of a local program or transport stream, whose length FFmpeg only estimates;
    // invalid for other containers. Moves the read position: call it before reading packets.
    static MediaTime scannedEnd(AVFormatContext *context, int streamIndex);
    // An error of the asset layer from an FFmpeg error number.
    static BVError errorFromCode(int code, const QString &description, const QString &location);
};
