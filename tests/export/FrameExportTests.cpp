#include "ExportTestSupport.h"

#include "app/BVExportCommand.h"
#include "common/BVTestSupport.h"
#include "export/BVFrameExport.h"
#include "platform/defaults/BVUserDefaults.h"

#include <QFileInfo>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

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
