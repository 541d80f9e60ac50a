#pragma once

// Clips made by the ffmpeg tool from pictures a test draws, and the view read back, for the tests
// of what the window shows of a picture.
#include "DocumentTestSupport.h"

#include <QImage>
#include <QProcess>
#include <QStringList>

namespace PictureTest {

using BVTest::runFfmpeg;

// The temporary folder the clips of one test program go into.
inline QString folder()
{
    static const QString path = BVTest::makeTempFolder(QStringLiteral("picture"));
    return path;
}

// A clip of three frames of `picture` at `rate` frames a second, encoded with the given ffmpeg
// output arguments.
inline QString clipOf(const QImage &picture, const QString &name, const QStringList &output, int rate)
{
    const QString still = folder() + QStringLiteral("/%1.png").arg(name);
    EXPECT_TRUE(picture.save(still));
    const QString path = folder() + QStringLiteral("/%1.mov").arg(name);
    BVTest::runFfmpeg(
        QStringList {QStringLiteral("-loop"), QStringLiteral("1"), QStringLiteral("-i"), still,
            QStringLiteral("-frames:v"), QStringLiteral("3"), QStringLiteral("-r"), QString::number(rate)}
        + output + QStringList {path});
    return path;
}

// The view as it is drawn now.
inline QImage grabView(BVDocument &document)
{
    BVTest::spin(std::chrono::milliseconds(100));
    return DocumentTest::playbackView(document)->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

} // namespace PictureTest
