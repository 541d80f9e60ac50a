#pragma once

#include "platform/media/MediaTime.h"

#include <QString>

#include <vector>

// Edits the edit lists of a finished QuickTime movie in place.
class MediaMovieEditList
{
public:
    MediaMovieEditList() = delete;

    struct TrackEnd
    {
        int trackIndex = 0; // the track's position in the movie, from 0
        MediaTime end; // where the track's last edit ends in the movie's time line
    };
    // Ends the last edit of each track at its time (what the track stores beyond is no longer
    // shown) and sets the track and movie durations to match. False when the file cannot be read
    // or written or a track has no edit list.
    static bool limitTracks(const QString &path, const std::vector<TrackEnd> &ends);
};
