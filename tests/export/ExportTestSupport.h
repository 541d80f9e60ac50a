#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class BVAVExport;

namespace ExportTest {

// A clip made with the ffmpeg tool whose pictures carry their frame index: ten blocks of 8 x 16
// pixels, block b white when bit b of the index is set. Cached in the test's temporary folder.
struct ClipSpec
{
    QString rate = QStringLiteral("25");
    double seconds = 4;
    QString timecode = QStringLiteral("10:00:00:00"); // empty: no timecode track
    QString size = QStringLiteral("80x16");
    QString videoCodec = QStringLiteral("libx264"); // with B-frames
    int audioRate = 48000; // 0: no audio
    int audioChannels = 2;
    bool video = true;
    // Above 0: an MPEG transport stream whose clock starts this many seconds in, instead of a movie.
    double transportClockStart = 0;
};
QString makeClip(const ClipSpec &spec);

// The frame indices of the pictures a file shows, decoded by the ffmpeg tool (which applies the
// movie's edit lists). Only for pictures of the clip's 80 x 16 size.
std::vector<int> frameIndices(const QString &path);
// ffprobe's description of the file: "streams" and "format".
QJsonObject probe(const QString &path);
// The first stream of a type ("video", "audio", "data").
QJsonObject stream(const QJsonObject &probe, const QString &type);
// The indices from first to last, inclusive, as the pictures show them (modulo 1024).
std::vector<int> run(int first, int last);

// What an export reported, waited for in the event loop.
struct Outcome
{
    bool finished = false;
    bool failed = false;
    QString error;
    std::vector<double> progress;
};
Outcome runExport(const std::shared_ptr<BVAVExport> &engine, int timeoutMs = 60000);

} // namespace ExportTest
