#pragma once

#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>

// Helpers shared by the test programs.
namespace BVTest {

// The temporary HOME this test process runs in (created by the test main).
QString homeDirectory();
// A fresh empty folder inside the temporary HOME.
QString makeTempFolder(const QString &prefix = QStringLiteral("t"));
// Processes Qt events until the predicate holds or the timeout passes; answers the predicate.
bool waitFor(
    const std::function<bool()> &predicate, std::chrono::milliseconds timeout = std::chrono::seconds(10));
// Processes Qt events for the given time.
void spin(std::chrono::milliseconds duration);
// Generates a sample media file with tools/bv-make-sample (cached per build): the variant names
// are those of the tool ("movie", "df2997", "fps25", "bwav16", "bwav24", "png", "jpeg", ...).
// Extra arguments are passed on. Answers the path of the file (or the first file of a sequence).
QString sampleMedia(const QString &variant, const QStringList &extraArguments = {});
// Reads a whole file.
QByteArray readFile(const QString &path);
bool writeFile(const QString &path, const QByteArray &data);

// Runs a command-line tool (ffmpeg, ffprobe ...) to its end and answers its standard output; a
// failure to run or a non-zero exit fails the test with the tool's error output and answers empty.
QByteArray runTool(const QString &program, const QStringList &arguments);
// ffmpeg quietly, overwriting its output; false (and the test failed) when it fails.
bool runFfmpeg(const QStringList &arguments);

} // namespace BVTest
