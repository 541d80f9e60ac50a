#pragma once

#include "platform/media/MediaTime.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <memory>
#include <vector>

class MediaPlayer;
class MediaPlayerItem;

namespace MediaEngineTest {

// One picture of the reference decode: its time and a digest of its RGB32 pixels.
struct ReferenceFrame
{
    MediaTime time;
    QByteArray digest;
};

// Decodes every video frame of a file in order with the FFmpeg libraries, independently of the
// engine, converting each the way the player does (bilinear swscale, the frame's own matrix and
// range, full-range RGB32 output). Empty on failure.
std::vector<ReferenceFrame> referenceFrames(const QString &path);
QByteArray digest(const QImage &image);
// The index of the reference frame showing at a time.
int frameAt(const std::vector<ReferenceFrame> &frames, const MediaTime &time);

// A 6 s 320x240 H.264 movie with open GOPs (keyframes every second, each followed in decoding
// order by B-frames shown before it that refer to the previous GOP), made with the ffmpeg tool in
// the test's temporary folder. Empty when it cannot be made.
QString openGopClip();

// A player with an item for the path or address, waited on until ready (or failed).
struct Session
{
    std::unique_ptr<MediaPlayer> player;
    std::shared_ptr<MediaPlayerItem> item;
    Session();
    ~Session();
};
std::unique_ptr<Session> open(const QString &pathOrUrl, int timeoutMs = 20000);
// Seeks and waits for the completion; answers the finished flag (false on time-out too).
bool seek(MediaPlayer &player, const MediaTime &time, const MediaTime &before = MediaTime::zero(),
    const MediaTime &after = MediaTime::zero());
bool step(MediaPlayer &player, int count);

} // namespace MediaEngineTest
