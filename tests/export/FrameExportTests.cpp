#include "ExportTestSupport.h"
#include "player/DocumentTestSupport.h"

#include "app/commandline/BVExportCommand.h"
#include "common/BVTestSupport.h"
#include "export/BVDocumentExporter.h"
#include "export/BVFrameExport.h"
#include "markers/BVAnnotation.h"
#include "markers/BVAnnotationCache.h"
#include "platform/defaults/BVUserDefaults.h"
#include "player/window/BVDocumentWindowController.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QSignalSpy>
#include <QUrl>
#include <QtEndian>

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <optional>

namespace {

BVUserDefaults *defaults()
{
    return BVUserDefaults::standardUserDefaults();
}

// 80 x 32 at 25 fps from 10:00:00:00, no sound: the top 16 rows carry the frame index (ten blocks
// of 8 pixels, block b white when bit b is set), the rest is black but for a white 8 x 8 square in
// the bottom right corner.
QString markedCornerClip(const QString &folder)
{
    const QString path = folder + QStringLiteral("/corner.mov");
    BVTest::runFfmpeg({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
        QStringLiteral("color=black:size=80x32:rate=25:duration=2,format=gray,"
                       "geq=lum='if(lt(Y\\,16)\\,16+219*mod(floor(N/pow(2\\,floor(X/8)))\\,2)\\,"
                       "if(gte(X\\,72)*gte(Y\\,24)\\,235\\,16))'"),
        QStringLiteral("-c:v"), QStringLiteral("libx264"), QStringLiteral("-pix_fmt"),
        QStringLiteral("yuv420p"), QStringLiteral("-qp"), QStringLiteral("0"), QStringLiteral("-timecode"),
        QStringLiteral("10:00:00:00"), path});
    return path;
}

// Writes a display matrix (a b u c d v x y w, 16.16 with u v w in 2.30) into the first track
// header of a QuickTime file, as cameras that film upright or mirrored store it.
bool writeDisplayMatrix(const QString &path, const std::array<int32_t, 9> &matrix)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    QByteArray data = file.readAll();
    const qsizetype type = data.indexOf("tkhd");
    if (type < 4)
        return false;
    const qsizetype box = type - 4;
    // After the version and flags: times, track ID, duration (32 or 64 bits wide), reserved
    // words, layer, group, volume.
    const qsizetype at = box + (data.at(box + 8) == 1 ? 60 : 48);
    for (int i = 0; i < 9; ++i)
        qToBigEndian<int32_t>(matrix[size_t(i)], data.data() + at + 4 * i);
    file.seek(0);
    return file.write(data) == data.size();
}

bool white(const QImage &image, int x, int y)
{
    return qGray(image.pixel(x, y)) > 128;
}

// The index of a frame of the marked-corner clip, read at the stored picture's block centres
// carried to where they are shown.
int indexAt(const QImage &image, const std::function<QPoint(int, int)> &shown)
{
    int index = 0;
    for (int bit = 0; bit < 10; ++bit) {
        const QPoint at = shown(bit * 8 + 4, 8);
        if (white(image, at.x(), at.y()))
            index |= 1 << bit;
    }
    return index;
}

// The marked-corner clip as a camera that filmed it sideways stores it: turned a quarter clockwise
// by its display matrix.
QString sidewaysClip(const QString &folder)
{
    const QString path = folder + QStringLiteral("/turned.mov");
    QFile::remove(path);
    QFile::copy(markedCornerClip(folder), path);
    EXPECT_TRUE(writeDisplayMatrix(path, {0, 0x10000, 0, -0x10000, 0, 0, 32 << 16, 0, 0x40000000}));
    return path;
}

// 50 pictures a second of an edge moving 8 pixels each, woven in pairs into 25 interlaced frames of
// 64 x 64 from 00:00:00:00.
QString wovenClip(const QString &folder)
{
    const QString path = folder + QStringLiteral("/woven.mov");
    BVTest::runFfmpeg({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
        QStringLiteral("color=black:size=64x64:rate=50:duration=2,format=gray,"
                       "geq=lum='if(lt(X\\,mod(N*8\\,64))\\,235\\,16)'"),
        QStringLiteral("-vf"), QStringLiteral("tinterlace=interleave_top,setfield=tff"),
        QStringLiteral("-c:v"), QStringLiteral("libx264"), QStringLiteral("-pix_fmt"),
        QStringLiteral("yuv420p"), QStringLiteral("-flags"), QStringLiteral("+ilme+ildct"),
        QStringLiteral("-timecode"), QStringLiteral("00:00:00:00"), path});
    return path;
}

// The frame ffmpeg's own player decodes with its automatic rotation.
QImage ffmpegFrame(const QString &clip, int frame, const QString &out)
{
    BVTest::runFfmpeg(
        {QStringLiteral("-i"), clip, QStringLiteral("-vf"), QStringLiteral("select=eq(n\\,%1)").arg(frame),
            QStringLiteral("-frames:v"), QStringLiteral("1"), out});
    return QImage(out);
}

// Mean absolute difference between neighbouring lines: woven fields of a moving edge comb it.
double lineToLine(const QImage &image)
{
    double sum = 0;
    for (int y = 0; y + 1 < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            sum += std::abs(qGray(image.pixel(x, y)) - qGray(image.pixel(x, y + 1)));
    return sum / (double(image.width()) * (image.height() - 1));
}

} // namespace

TEST(FrameExport, MatteBarsOfTheThreeShapes)
{
    const struct
    {
        QSizeF size;
        double ratio;
        bool columns;
        int bar;
    } cases[] = {
        {{1920, 1080}, 2.39, false, 139}, // 1080 - 803.3 > 0: ceil(138.3) rows
        {{1440, 1080}, 1.78, false, 136}, // 4:3 under a 1.78 matte: rows too
        {{2048, 858}, 1.78, true, 261}, // wider than the matte: ceil((2048 - 1527.24) / 2) columns
        {{1920, 1080}, 1920.0 / 1080, false, 0},
        {{1920, 1080}, 0, false, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.bar);
        const BVFrameExport::Matte matte = BVFrameExport::matteFor(c.size, c.ratio);
        EXPECT_EQ(matte.bar, c.bar);
        if (c.bar) {
            EXPECT_EQ(matte.columns, c.columns);
        }
    }
}

TEST(FrameExport, BurntMatteBlackensExactlyTheBars)
{
    QImage rows(1920, 1080, QImage::Format_RGBA8888);
    rows.fill(Qt::white);
    BVFrameExport::burnMatte(rows, QSizeF(1920, 1080), 2.39);
    EXPECT_EQ(rows.pixel(500, 138), qRgba(0, 0, 0, 255));
    EXPECT_EQ(rows.pixel(500, 139), qRgba(255, 255, 255, 255));
    EXPECT_EQ(rows.pixel(0, 1080 - 139), qRgba(0, 0, 0, 255));
    EXPECT_EQ(rows.pixel(0, 1080 - 140), qRgba(255, 255, 255, 255));

    QImage columns(2048, 858, QImage::Format_RGBA8888);
    columns.fill(Qt::white);
    BVFrameExport::burnMatte(columns, QSizeF(2048, 858), 1.78);
    EXPECT_EQ(columns.pixel(260, 400), qRgba(0, 0, 0, 255));
    EXPECT_EQ(columns.pixel(261, 400), qRgba(255, 255, 255, 255));
    EXPECT_EQ(columns.pixel(2048 - 261, 0), qRgba(0, 0, 0, 255));
    EXPECT_EQ(columns.pixel(2048 - 262, 857), qRgba(255, 255, 255, 255));
}

TEST(FrameExport, NamesAndExtensions)
{
    EXPECT_EQ(BVFrameExport::proposedName(QStringLiteral("Reel 1"), QStringLiteral("01:00:03;17")),
        QStringLiteral("Reel 1 01000317.png"));
    const struct
    {
        const char *path;
        int format;
        const char *written;
    } cases[] = {
        {"/a/frame.png", BVFrameExport::JPEG, "/a/frame.png.jpg"},
        {"/a/frame.PNG", BVFrameExport::PNG, "/a/frame.PNG"},
        {"/a/frame.jpeg", BVFrameExport::JPEG, "/a/frame.jpeg"},
        {"/a/frame.tif", BVFrameExport::TIFF, "/a/frame.tif"},
        {"/a/frame", 7, "/a/frame.png"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(BVFrameExport::pathForFormat(QLatin1String(c.path), c.format), QLatin1String(c.written));
    EXPECT_EQ(BVFrameExport::formatTitles().at(1), QStringLiteral("JPEG Image (*.jpg)"));
}

TEST(FrameExport, AnnotationIsDrawnOverThePicture)
{
    QImage picture(200, 100, QImage::Format_RGBA8888);
    picture.fill(Qt::white);
    const QString path = BVTest::makeTempFolder(QStringLiteral("frame")) + QStringLiteral("/a.png");
    const QString written = BVFrameExport::saveFrame(picture, path, BVFrameExport::PNG, QSizeF(200, 100), 0,
        true, [](QPainter &painter, const QRectF &target) {
            // The 960 x 540 canvas scaled to the picture: a red square at its centre.
            painter.scale(target.width() / 960, target.height() / 540);
            painter.fillRect(QRectF(430, 220, 100, 100), Qt::red);
        });
    ASSERT_EQ(written, path);
    const QImage back(path);
    EXPECT_EQ(back.pixel(100, 50), qRgb(255, 0, 0));
    EXPECT_EQ(back.pixel(10, 10), qRgb(255, 255, 255));
}

// The command line saves the exact frame at a source timecode: the picture carries its index.
TEST(FrameExport, CommandLineSavesTheFrameAtTheTimecode)
{
    const QString clip = ExportTest::makeClip({});
    const QString folder = BVTest::makeTempFolder(QStringLiteral("cli-frame"));
    BVUserDefaults::standardUserDefaults()->setDouble(0, QStringLiteral("mask"));
    const struct
    {
        const char *timecode;
        const char *name;
        int index;
    } cases[] = {{"10:00:01:13", "f.png", 38}, {"10:00:00:00", "g.tif", 0}, {"10:00:03:24", "h.png", 99}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.timecode);
        const QString out = folder + u'/' + QLatin1String(c.name);
        ASSERT_EQ(
            BVExportCommand::run(BVExportCommand::Mode::ExportFrame, {clip, QLatin1String(c.timecode), out}),
            0);
        const QImage image(out);
        ASSERT_EQ(image.size(), QSize(80, 16));
        int index = 0;
        for (int bit = 0; bit < 10; ++bit)
            if (qGray(image.pixel(bit * 8 + 4, 8)) > 128)
                index |= 1 << bit;
        EXPECT_EQ(index, c.index);
    }
    // A 2.39 matte on an 80 x 16 picture: 21 columns each side.
    BVUserDefaults::standardUserDefaults()->setDouble(2.39, QStringLiteral("mask"));
    const QString matted = folder + QStringLiteral("/m.png");
    ASSERT_EQ(BVExportCommand::run(
                  BVExportCommand::Mode::ExportFrame, {clip, QStringLiteral("10:00:00:01"), matted}),
        0);
    const QImage image(matted);
    EXPECT_EQ(image.pixel(20, 8), qRgb(0, 0, 0));
    EXPECT_EQ(qGray(image.pixel(20 + 1 + 3, 8)), qGray(image.pixel(28, 8))); // bit 2 block, outside the bar
    EXPECT_EQ(image.pixel(80 - 21, 8), qRgb(0, 0, 0));
    BVUserDefaults::standardUserDefaults()->setDouble(0, QStringLiteral("mask"));
    EXPECT_EQ(BVExportCommand::run(BVExportCommand::Mode::ExportFrame,
                  {clip, QStringLiteral("10:00:00:01"), folder + QStringLiteral("/x.gif")}),
        2);
    EXPECT_EQ(BVExportCommand::run(BVExportCommand::Mode::ExportFrame,
                  {clip, QStringLiteral("11:00:00:00"), folder + QStringLiteral("/y.png")}),
        1);
}

// A matte over non-square pixels covers what it covers on screen: a 2048 x 858 display from
// 1024 stored columns loses ceil(260.38 / 2) = 131 columns on each side, not 261.
TEST(FrameExport, MatteOverNonSquarePixelsFollowsTheDisplay)
{
    QImage image(1024, 858, QImage::Format_RGBA8888);
    image.fill(Qt::white);
    BVFrameExport::burnMatte(image, QSizeF(2048, 858), 1.78);
    EXPECT_EQ(image.pixel(130, 400), qRgba(0, 0, 0, 255));
    EXPECT_EQ(image.pixel(131, 400), qRgba(255, 255, 255, 255));
    EXPECT_EQ(image.pixel(1023 - 130, 400), qRgba(0, 0, 0, 255));
    EXPECT_EQ(image.pixel(1023 - 131, 400), qRgba(255, 255, 255, 255));
}

// A clip filmed sideways (its display matrix turns it a quarter clockwise) or mirrored is saved
// upright, as ffmpeg's own player shows it, with the user's rotation on top.
TEST(FrameExport, CommandLineFramesStandAsShown)
{
    const QString folder = BVTest::makeTempFolder(QStringLiteral("oriented"));
    const QString turned = sidewaysClip(folder);
    const QString stored = folder + QStringLiteral("/corner.mov");
    const QString mirrored = folder + QStringLiteral("/mirrored.mov");
    ASSERT_TRUE(QFile::copy(stored, mirrored));
    ASSERT_TRUE(writeDisplayMatrix(mirrored, {-0x10000, 0, 0, 0, 0x10000, 0, 80 << 16, 0, 0x40000000}));
    defaults()->setDouble(0, QStringLiteral("mask"));

    const struct
    {
        const char *name;
        QString clip;
        int rotation;
        QSize size;
        // Where the stored pixel (x, y) of the 80 x 32 picture is shown.
        std::function<QPoint(int, int)> shown;
    } cases[] = {
        {"as stored", stored, 1, {80, 32}, [](int x, int y) { return QPoint(x, y); }},
        {"a quarter clockwise", turned, 1, {32, 80}, [](int x, int y) { return QPoint(31 - y, x); }},
        {"mirrored", mirrored, 1, {80, 32}, [](int x, int y) { return QPoint(79 - x, y); }},
        // The user's counter-clockwise quarter turn undoes the file's clockwise one.
        {"turned back by the user", turned, 4, {80, 32}, [](int x, int y) { return QPoint(x, y); }},
        {"flipped by the user", turned, 2, {32, 80}, [](int x, int y) { return QPoint(y, x); }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        defaults()->setInteger(c.rotation, QStringLiteral("rotation"));
        const QString out = folder + QStringLiteral("/%1.png").arg(QLatin1String(c.name));
        ASSERT_EQ(BVExportCommand::run(
                      BVExportCommand::Mode::ExportFrame, {c.clip, QStringLiteral("10:00:01:13"), out}),
            0);
        const QImage image(out);
        ASSERT_EQ(image.size(), c.size);
        EXPECT_EQ(indexAt(image, c.shown), 38);
        // The marked corner lit; the other bottom corner and the band between dark.
        const QPoint corner = c.shown(76, 28);
        const QPoint otherCorner = c.shown(3, 28);
        const QPoint between = c.shown(76, 19);
        EXPECT_TRUE(white(image, corner.x(), corner.y()));
        EXPECT_FALSE(white(image, otherCorner.x(), otherCorner.y()));
        EXPECT_FALSE(white(image, between.x(), between.y()));
    }
    defaults()->setInteger(1, QStringLiteral("rotation"));

    // The file turned a quarter: the same picture as ffmpeg's player shows, pixel block by block.
    const QImage reference = ffmpegFrame(turned, 38, folder + QStringLiteral("/reference.png"));
    const QImage ours(folder + QStringLiteral("/a quarter clockwise.png"));
    ASSERT_EQ(reference.size(), ours.size());
    int differing = 0;
    for (int y = 2; y < ours.height(); y += 4)
        for (int x = 2; x < ours.width(); x += 4)
            differing += white(reference, x, y) != white(ours, x, y);
    EXPECT_EQ(differing, 0);
}

// Interlaced pictures of a moving edge: woven fields comb the edge line by line; deinterlaced on
// request (the window's setting, the command line's --deinterlace) the lines agree.
TEST(FrameExport, DeinterlacingTakesTheCombOutOfAMovingEdge)
{
    const QString folder = BVTest::makeTempFolder(QStringLiteral("interlaced"));
    const QString clip = wovenClip(folder);
    defaults()->setDouble(0, QStringLiteral("mask"));
    defaults()->setInteger(1, QStringLiteral("rotation"));

    const QString woven = folder + QStringLiteral("/woven.png");
    const QString whole = folder + QStringLiteral("/whole.png");
    ASSERT_EQ(BVExportCommand::run(
                  BVExportCommand::Mode::ExportFrame, {clip, QStringLiteral("00:00:00:05"), woven}),
        0);
    ASSERT_EQ(BVExportCommand::run(BVExportCommand::Mode::ExportFrame,
                  {clip, QStringLiteral("00:00:00:05"), whole, QStringLiteral("--deinterlace")}),
        0);
    // The edge moves 8 pixels between the fields: 8 of 64 columns differ by 219 on every line.
    EXPECT_GT(lineToLine(QImage(woven)), 20);
    EXPECT_LT(lineToLine(QImage(whole)), 3);

    EXPECT_EQ(BVExportCommand::run(BVExportCommand::Mode::ExportFrame,
                  {clip, QStringLiteral("00:00:00:05"), whole, QStringLiteral("--sharpen")}),
        2);
}

// The command line draws a marker's stored drawing on its frame, as the window's frame export does:
// the markers the window keeps for the file, the drawing from the local annotation cache.
TEST(FrameExport, CommandLineDrawsTheMarkersDrawing)
{
    const QString clip = ExportTest::makeClip({.size = QStringLiteral("480x270"), .audioRate = 0});
    const QString folder = BVTest::makeTempFolder(QStringLiteral("annotated"));
    defaults()->setDouble(0, QStringLiteral("mask"));
    defaults()->setInteger(1, QStringLiteral("rotation"));

    // A red stroke across the lower part of the canvas, stored as the window stores it.
    BVAnnotation drawing;
    for (int x = 100; x <= 860; x += 20)
        drawing.addPoint(QPointF(x, 400));
    drawing.endStroke();
    const QString uuid = QStringLiteral("5A0C1E2D-3B4F-4A6B-8C7D-9E0F1A2B3C4D");
    ASSERT_TRUE(BVAnnotationCache::writeAnnotation(uuid, drawing.renderSVG(1)));
    // Frame 38 at 25 fps is 1.52 s: 912 at the timescale of stored positions.
    const QVariantMap marker {{QStringLiteral("name"), QStringLiteral("look here")},
        {QStringLiteral("position"),
            QVariantMap {{QStringLiteral("value"), 912}, {QStringLiteral("timescale"), 600},
                {QStringLiteral("flags"), 1}, {QStringLiteral("epoch"), 0}}},
        {QStringLiteral("color"), 1}, {QStringLiteral("can_edit"), true},
        {QStringLiteral("annotation"), uuid}};
    const QString key = QUrl::fromLocalFile(QFileInfo(clip).absoluteFilePath()).toString(QUrl::FullyEncoded);
    defaults()->setObject(
        QVariantMap {{key, QVariantMap {{QStringLiteral("markers"), QVariantList {marker}}}}},
        QStringLiteral("fileSettings"));

    auto save = [&](const char *timecode, const char *name) {
        const QString out = folder + u'/' + QLatin1String(name);
        EXPECT_EQ(
            BVExportCommand::run(BVExportCommand::Mode::ExportFrame, {clip, QLatin1String(timecode), out}),
            0);
        return QImage(out);
    };
    // The stroke is 5 canvas units wide at y 400: pixel row 200 of the 480 x 270 picture, where the
    // picture's own blocks (index 38: bits 1, 2 and 5) are black from x 48 on.
    const auto red = [](const QImage &image, int x, int y) {
        const QRgb pixel = image.pixel(x, y);
        // The red of marker colour 1 (#ff6554) at the stroke's opacity 0.6 over black.
        return qRed(pixel) > 100 && qRed(pixel) > qGreen(pixel) + 50 && qRed(pixel) > qBlue(pixel) + 50;
    };
    defaults()->setBool(false, QStringLiteral("frameEmbedAnnotation"));
    const QImage off = save("10:00:01:13", "off.png");
    defaults()->setBool(true, QStringLiteral("frameEmbedAnnotation"));
    const QImage on = save("10:00:01:13", "on.png");
    const QImage next = save("10:00:01:14", "next.png");
    ASSERT_EQ(on.size(), QSize(480, 270));
    for (int x : {80, 240, 400}) {
        SCOPED_TRACE(x);
        EXPECT_FALSE(red(off, x, 200));
        EXPECT_TRUE(red(on, x, 200));
        EXPECT_FALSE(red(on, x, 150)); // above the stroke: the picture's own pixels
        EXPECT_EQ(qGray(on.pixel(x, 150)), qGray(off.pixel(x, 150)));
        EXPECT_FALSE(red(next, x, 200)); // one frame after the marker: no drawing
    }
    defaults()->removeObjectForKey(QStringLiteral("fileSettings"));
}

// The window saves the frame as it shows it: the file's quarter turn, the user's turn on top, and
// deinterlaced while the view deinterlaces.
TEST(FrameExport, WindowSavesThePictureAsItShowsIt)
{
    DocumentTest::resetSettings();
    const QString folder = BVTest::makeTempFolder(QStringLiteral("window-frames"));
    auto saveShown = [&](const QString &clip, int frame, const std::function<void(BVDocument &)> &set,
                         const QString &name) {
        DocumentTest::ScreenDocument document;
        BVDocumentExporter *exporter = BVDocumentExporter::install(document, nullptr);
        BVError error;
        EXPECT_TRUE(document.readFromURL(QUrl::fromLocalFile(clip), BVDocument::movieType(), &error));
        BVDocumentWindowController::showWindows(document);
        EXPECT_TRUE(BVTest::waitFor([&] { return document.isReady(); }));
        set(document);
        EXPECT_TRUE(DocumentTest::seekAndWait(document, MediaTime(frame, 25)));
        QSignalSpy saved(exporter, &BVDocumentExporter::frameSaved);
        const QString path = folder + u'/' + name;
        document.saveFrame(path, BVFrameExport::PNG);
        EXPECT_TRUE(BVTest::waitFor([&] { return saved.count() == 1; }));
        document.close();
        return QImage(path);
    };
    const QString turned = sidewaysClip(folder);
    const QImage upright = saveShown(
        turned, 38, [](BVDocument &) {}, QStringLiteral("upright.png"));
    ASSERT_EQ(upright.size(), QSize(32, 80));
    EXPECT_EQ(indexAt(upright, [](int x, int y) { return QPoint(31 - y, x); }), 38);
    EXPECT_TRUE(white(upright, 31 - 28, 76));
    // The rotation menu's counter-clockwise quarter turn undoes the file's.
    const QImage back = saveShown(
        turned, 38,
        [](BVDocument &document) {
            BVDocumentWindowController::of(document)
                ->actionNamed(QStringLiteral("changeRotation:4"))
                ->trigger();
        },
        QStringLiteral("back.png"));
    ASSERT_EQ(back.size(), QSize(80, 32));
    EXPECT_EQ(indexAt(back, [](int x, int y) { return QPoint(x, y); }), 38);
    EXPECT_TRUE(white(back, 76, 28));
    DocumentTest::resetSettings();

    const QString woven = wovenClip(folder);
    const QImage combed = saveShown(
        woven, 5, [](BVDocument &) {}, QStringLiteral("combed.png"));
    const QImage whole = saveShown(
        woven, 5,
        [](BVDocument &document) {
            BVDocumentWindowController::of(document)
                ->actionNamed(QStringLiteral("toggleDeinterlace"))
                ->trigger();
        },
        QStringLiteral("whole.png"));
    EXPECT_GT(lineToLine(combed), 20);
    EXPECT_LT(lineToLine(whole), 3);
    DocumentTest::resetSettings();
}
