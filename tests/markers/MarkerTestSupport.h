#pragma once

// A media object with a set position, length and chapters for the marker tests.
#include "platform/defaults/BVUserDefaults.h"
#include "platform/media/MediaTime.h"
#include "player/media/BVMediaObject.h"

#include <QVariantMap>

namespace MarkerTest {

class FakeMedia : public BVMediaObject
{
public:
    // 24 fps from 01:00:00:00, 100 s long, at a timescale of 24000.
    FakeMedia()
    {
        setFps(24);
        setTimecodeStart(QStringLiteral("01:00:00:00"));
    }
    MediaTime now = MediaTime::zero();
    MediaTime length {2400000, 24000};
    bool playing = false;
    MediaTime currentTime() const override { return now; }
    MediaTime duration() const override { return length; }
    bool isPlaying() const override { return playing; }
    void addChapter(const MediaTime &start, const QString &title)
    {
        QList<MediaTimedMetadataGroup> list = chapters();
        MediaMetadataItem item(QStringLiteral("title"), QStringLiteral("title"), title);
        item.setTime(start);
        list.append(MediaTimedMetadataGroup(MediaTimeRange(start, MediaTime(1, 1)), {item}));
        setChapters(list);
    }
};

inline QVariantMap fileEntry(const QString &key)
{
    return BVUserDefaults::standardUserDefaults()
        ->dictionaryForKey(QStringLiteral("fileSettings"))
        .value(key)
        .toMap();
}

inline MediaTime seconds(double s)
{
    return MediaTime(int64_t(s * 24000), 24000);
}

} // namespace MarkerTest
