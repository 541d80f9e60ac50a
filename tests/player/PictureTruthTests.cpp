// What the window shows of a picture, read back from the view: Actual Size and Half Size pixel for
// pixel, colour bars of known RGB values through every matrix, range and depth, the pixel aspect of
// the container, the display matrix, fine detail scaled down without moiré, transparency, and a
// control strip whose timecode and duration nothing covers. Clips are made by the ffmpeg tool from
// pictures this test draws, so every expectation comes from the picture, not from the player.
#include "PictureTestSupport.h"

#include "player/window/BVDocumentWindowController.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QSlider>

#include <algorithm>

using namespace DocumentTest;
using namespace PictureTest;

namespace {

// A clip of three frames of `picture` at this test's rate.
QString clipOf(const QImage &picture, const QString &name, const QStringList &output)
{
    return PictureTest::clipOf(picture, name, output, 24);
}

// Waits until the view shows a picture whose pixel at `at` (view coordinates) is not black.
bool waitForPicture(BVDocument &document, QPoint at)
{
    return BVTest::waitFor([&] {
        const QImage shot = DocumentTest::playbackView(document)->grab().toImage();
        return shot.rect().contains(at) && (QColor(shot.pixel(at)).value() > 12);
    });
}

// The bounding box of the pixels brighter than `threshold` (on a black picture).
QRect brightBox(const QImage &image, int threshold = 128)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) > threshold)
                box |= QRect(x, y, 1, 1);
    return box;
}

// A centred white square on black, with a red block at the top left: what rotation does to it can
// be read from where the red block ends up.
QImage squarePicture(const QSize &size, int side)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    painter.fillRect(QRect((size.width() - side) / 2, (size.height() - side) / 2, side, side), Qt::white);
    painter.fillRect(QRect(0, 0, size.width() / 8, size.height() / 8), QColor(255, 0, 0));
    return image;
}

// Writes a display matrix into the first track header of a QuickTime file (the stored matrix
// a b u / c d v / tx ty w, 16.16 and 2.30 fixed point, big-endian).
bool setTrackMatrix(const QString &path, const std::array<int32_t, 9> &matrix)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    QByteArray bytes = file.readAll();
    const qsizetype tkhd = bytes.indexOf("tkhd");
    if (tkhd < 0 || bytes.at(tkhd + 4) != 0)
        return false; // version 0 headers only
    // type, version and flags, five 32-bit fields, 8 reserved bytes, layer, group, volume, reserved.
    qsizetype at = tkhd + 4 + 4 + 20 + 8 + 8;
    for (int32_t value : matrix) {
        const auto v = uint32_t(value);
        bytes[at++] = char(v >> 24);
        bytes[at++] = char(v >> 16);
        bytes[at++] = char(v >> 8);
        bytes[at++] = char(v);
    }
    file.seek(0);
    return file.write(bytes) == bytes.size();
}

struct Bar
{
    int r, g, b;
};

// Eight bars of chosen colours (saturated and mixed, so that a wrong matrix shows).
const std::array<Bar, 8> bars {{{200, 40, 40}, {40, 200, 40}, {40, 40, 200}, {190, 190, 30}, {30, 180, 180},
    {180, 30, 180}, {128, 128, 128}, {20, 100, 220}}};

QImage barsPicture(const QSize &size)
{
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    const int n = int(bars.size());
    for (int i = 0; i < n; ++i) {
        const int x0 = size.width() * i / n;
        const int x1 = size.width() * (i + 1) / n;
        painter.fillRect(QRect(x0, 0, x1 - x0, size.height()), QColor(bars[i].r, bars[i].g, bars[i].b));
    }
    return image;
}

class PictureTruth : public ::testing::Test
{
protected:
    void SetUp() override { resetSettings(); }
    void TearDown() override { BVTest::spin(std::chrono::milliseconds(300)); }
};

} // namespace

TEST_F(PictureTruth, ActualSizeShowsEveryPixelOfTheFrameAndHalfSizeExactlyHalf)
{
    // Fine detail everywhere: any resampling changes pixels.
    QImage picture(1280, 720, QImage::Format_RGB32);
    for (int y = 0; y < 720; ++y)
        for (int x = 0; x < 1280; ++x)
            picture.setPixel(
                x, y, qRgb((x * 7 + y * 3) & 255, ((x ^ y) & 1) ? 230 : 20, (x / 5 + y / 3) % 2 ? 200 : 50));
    // Stored as RGB, so the decoded frame is exactly the picture drawn.
    const QString path = clipOf(picture, QStringLiteral("actual"),
        {QStringLiteral("-c:v"), QStringLiteral("png"), QStringLiteral("-pix_fmt"), QStringLiteral("rgb24")});
    auto document = open(path);
    ASSERT_TRUE(document->mediaObject());
    EXPECT_EQ(document->mediaObject()->naturalSize(), QSizeF(1280, 720));
    document->windowController()->setActualSize();
    BVTest::spin(std::chrono::milliseconds(200));
    BVAVPlaybackView *view = document->playbackView();
    EXPECT_EQ(view->size(), QSize(1280, 720));
    EXPECT_EQ(view->videoRect(), QRectF(0, 0, 1280, 720));
    ASSERT_TRUE(waitForPicture(*document, QPoint(640, 360)));
    const QImage shot = grabView(*document);
    ASSERT_EQ(shot.size(), QSize(1280, 720));
    int different = 0;
    for (int y = 0; y < 720; ++y)
        for (int x = 0; x < 1280; ++x)
            if (shot.pixel(x, y) != picture.pixel(x, y))
                ++different;
    EXPECT_EQ(different, 0) << "pixels that differ from the decoded frame";

    document->windowController()->setHalfSize();
    BVTest::spin(std::chrono::milliseconds(200));
    EXPECT_EQ(view->size(), QSize(640, 360));
    EXPECT_EQ(view->videoRect(), QRectF(0, 0, 640, 360));
    document->close();
}

TEST_F(PictureTruth, ColourBarsComeOutAtTheirValuesThroughEveryMatrixRangeAndDepth)
{
    struct Case
    {
        const char *label;
        QSize size;
        QString matrix; // the matrix the file is made with
        bool tagged;
        bool fullRange;
        bool tenBit;
    };
    const QList<Case> cases {
        {"480 untagged: BT.601", {720, 480}, QStringLiteral("bt601"), false, false, false},
        {"576 untagged: BT.601", {720, 576}, QStringLiteral("bt601"), false, false, false},
        {"720 untagged: BT.709", {1280, 720}, QStringLiteral("bt709"), false, false, false},
        {"1280x544 untagged crop: BT.709", {1280, 544}, QStringLiteral("bt709"), false, false, false},
        {"480 tagged BT.709: the tag wins", {720, 480}, QStringLiteral("bt709"), true, false, false},
        {"720 tagged BT.601: the tag wins", {1280, 720}, QStringLiteral("bt601"), true, false, false},
        {"720 full range", {1280, 720}, QStringLiteral("bt709"), true, true, false},
        {"576 full range untagged matrix", {720, 576}, QStringLiteral("bt601"), false, true, false},
        {"720 10-bit 4:2:2", {1280, 720}, QStringLiteral("bt709"), true, false, true},
        {"480 10-bit 4:2:2", {720, 480}, QStringLiteral("bt601"), true, false, true},
    };
    int index = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        const QString range = c.fullRange ? QStringLiteral("pc") : QStringLiteral("tv");
        QStringList output {QStringLiteral("-vf"),
            QStringLiteral(
                "scale=out_color_matrix=%1:out_range=%2:flags=accurate_rnd+full_chroma_int,format=%3")
                .arg(c.matrix, range,
                    c.tenBit ? QStringLiteral("yuv422p10le")
                             : (c.fullRange ? QStringLiteral("yuvj420p") : QStringLiteral("yuv420p")))};
        if (c.tenBit)
            output << QStringLiteral("-c:v") << QStringLiteral("prores_ks") << QStringLiteral("-profile:v")
                   << QStringLiteral("3");
        else
            output << QStringLiteral("-c:v") << QStringLiteral("libx264") << QStringLiteral("-qp")
                   << QStringLiteral("0");
        output << QStringLiteral("-color_range") << range;
        if (c.tagged) {
            const QString tag
                = c.matrix == QLatin1String("bt709") ? QStringLiteral("bt709") : QStringLiteral("smpte170m");
            output << QStringLiteral("-colorspace") << tag << QStringLiteral("-color_primaries")
                   << (c.matrix == QLatin1String("bt709") ? QStringLiteral("bt709")
                                                          : QStringLiteral("smpte170m"))
                   << QStringLiteral("-color_trc") << tag;
        }
        const QString path = clipOf(barsPicture(c.size), QStringLiteral("bars%1").arg(index++), output);
        auto document = open(path);
        ASSERT_TRUE(document->mediaObject());
        const QRectF video = document->playbackView()->videoRect();
        ASSERT_TRUE(waitForPicture(*document, video.center().toPoint()));
        const QImage shot = grabView(*document);
        for (int i = 0; i < int(bars.size()); ++i) {
            const QPoint at(
                int(video.x() + video.width() * (i + 0.5) / bars.size()), int(video.center().y()));
            const QColor seen(shot.pixel(at));
            EXPECT_NEAR(seen.red(), bars[i].r, 2) << "bar " << i;
            EXPECT_NEAR(seen.green(), bars[i].g, 2) << "bar " << i;
            EXPECT_NEAR(seen.blue(), bars[i].b, 2) << "bar " << i;
        }
        document->close();
        BVTest::spin(std::chrono::milliseconds(100));
    }
}

TEST_F(PictureTruth, ContainerPixelAspectUnsqueezesTheSquare)
{
    // A 540-point square in a 1920 x 1080 picture, stored squeezed at 1440 x 1080 with a 4:3 pixel
    // aspect in the container only (ProRes carries none of its own).
    const QImage display = squarePicture(QSize(1920, 1080), 540);
    const QImage stored = display.scaled(1440, 1080, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const QString path = clipOf(stored, QStringLiteral("squeezed"),
        {QStringLiteral("-vf"), QStringLiteral("setsar=4/3"), QStringLiteral("-c:v"),
            QStringLiteral("prores_ks")});
    auto document = open(path);
    ASSERT_TRUE(document->mediaObject());
    EXPECT_EQ(document->mediaObject()->naturalSize(), QSizeF(1920, 1080));
    const QRectF video = document->playbackView()->videoRect();
    ASSERT_TRUE(waitForPicture(*document, video.center().toPoint()));
    const QRect square = brightBox(grabView(*document), 200);
    ASSERT_FALSE(square.isEmpty());
    EXPECT_NEAR(double(square.width()) / square.height(), 1.0, 0.02)
        << square.width() << " x " << square.height();
    document->close();
}

TEST_F(PictureTruth, DisplayMatrixTurnsThePictureAndTheUsersTurnAddsToIt)
{
    const QImage picture = squarePicture(QSize(640, 360), 200);
    const QString path = clipOf(picture, QStringLiteral("rotated"),
        {QStringLiteral("-an"), QStringLiteral("-c:v"), QStringLiteral("png")});
    // A quarter turn clockwise, as a phone held upright records: x' = -y + h, y' = x.
    ASSERT_TRUE(setTrackMatrix(path, {0, 0x10000, 0, -0x10000, 0, 0, 360 << 16, 0, 1 << 30}));
    auto document = open(path);
    ASSERT_TRUE(document->mediaObject());
    EXPECT_EQ(document->mediaObject()->naturalSize(), QSizeF(360, 640));
    EXPECT_EQ(document->mediaObject()->pictureOrientation().quarterTurns, 1);
    // The window fits the upright picture.
    EXPECT_GT(document->playbackView()->height(), document->playbackView()->width());
    const QRectF video = document->playbackView()->videoRect();
    EXPECT_NEAR(video.width() / video.height(), 360.0 / 640.0, 0.01);
    ASSERT_TRUE(waitForPicture(*document, video.center().toPoint()));
    QImage shot = grabView(*document);
    const QRect square = brightBox(shot, 200);
    EXPECT_NEAR(double(square.width()) / square.height(), 1.0, 0.03);
    // The red block of the stored top left is at the top right once turned clockwise.
    const auto isRed = [](QRgb p) { return qRed(p) > 200 && qGreen(p) < 60 && qBlue(p) < 60; };
    const QPoint topRight(
        int(video.right() - video.width() * 0.05), int(video.top() + video.height() * 0.05));
    const QPoint topLeft(int(video.left() + video.width() * 0.05), int(video.top() + video.height() * 0.05));
    EXPECT_TRUE(isRed(shot.pixel(topRight)));
    EXPECT_FALSE(isRed(shot.pixel(topLeft)));

    // "Rotate 90° Right" turns clockwise once more: the block goes to the bottom right.
    QAction *right = document->windowController()->actionNamed(QStringLiteral("changeRotation:3"));
    ASSERT_TRUE(right);
    EXPECT_EQ(right->text(), QString::fromUtf8("Rotate 90\u00B0 Right"));
    right->trigger();
    BVTest::spin(std::chrono::milliseconds(200));
    const QRectF turned = document->playbackView()->videoRect();
    EXPECT_GT(turned.width(), turned.height());
    shot = grabView(*document);
    EXPECT_TRUE(isRed(shot.pixel(
        int(turned.right() - turned.width() * 0.05), int(turned.bottom() - turned.height() * 0.05))));
    document->close();
}

TEST_F(PictureTruth, FineDetailScaledDownIsAveragedNotBeaten)
{
    // A grating of one-pixel black and white columns, 3840 wide, shown in a 1600-wide window.
    QImage picture(3840, 2160, QImage::Format_RGB32);
    for (int x = 0; x < 3840; ++x) {
        const QRgb value = (x & 1) ? qRgb(255, 255, 255) : qRgb(0, 0, 0);
        for (int y = 0; y < 2160; ++y)
            picture.setPixel(x, y, value);
    }
    const QString path = clipOf(picture, QStringLiteral("grating"),
        {QStringLiteral("-c:v"), QStringLiteral("png"), QStringLiteral("-pix_fmt"), QStringLiteral("rgb24")});
    auto document = open(path, QRect(0, 0, 1600, 1000));
    ASSERT_TRUE(document->mediaObject());
    const QRectF video = document->playbackView()->videoRect();
    ASSERT_LT(video.width(), 1601);
    ASSERT_TRUE(waitForPicture(*document, video.center().toPoint()));
    const QImage shot = grabView(*document);
    int low = 255, high = 0;
    const int y = int(video.center().y());
    for (int x = int(video.left()) + 2; x < int(video.right()) - 2; ++x) {
        low = std::min(low, qGray(shot.pixel(x, y)));
        high = std::max(high, qGray(shot.pixel(x, y)));
    }
    // Averaged, every column is mid grey; a sampling filter beats between 28 and 239.
    EXPECT_GE(low, 100);
    EXPECT_LE(high, 155);
    document->close();
}

TEST_F(PictureTruth, NothingCoversTheTimecodeOrTheDurationAtAnyWidth)
{
    auto document = open(movie());
    QMainWindow *window = document->window();
    for (int width : {300, 400, 540, 700, 1000}) {
        SCOPED_TRACE(width);
        window->resize(width, 500);
        BVTest::spin(std::chrono::milliseconds(150));
        QWidget *strip = window->findChild<QWidget *>(QStringLiteral("BVControlStrip"));
        ASSERT_TRUE(strip);
        auto *position = strip->findChild<QPushButton *>(QStringLiteral("mTimeElapsed"));
        ASSERT_TRUE(position);
        QLabel *duration = nullptr;
        for (QLabel *label : strip->findChildren<QLabel *>())
            if (label->text().count(u':') == 3)
                duration = label;
        ASSERT_TRUE(duration);
        const QFontMetrics metrics(position->font());
        const int text = metrics.horizontalAdvance(QStringLiteral("00:00:00:00"));
        for (QWidget *field : {static_cast<QWidget *>(position), static_cast<QWidget *>(duration)}) {
            EXPECT_GE(field->width(), text) << "the field is narrower than its text";
            EXPECT_TRUE(strip->rect().contains(field->geometry())) << "the field leaves the strip";
            for (QWidget *other : strip->findChildren<QWidget *>()) {
                if (other == field || !other->isVisible() || other->parentWidget() != field->parentWidget()
                    || (!qobject_cast<QAbstractButton *>(other) && !qobject_cast<QSlider *>(other)
                        && !qobject_cast<QLabel *>(other)))
                    continue;
                EXPECT_FALSE(other->geometry().intersects(field->geometry()))
                    << qPrintable(other->objectName()) << " covers a time field";
            }
        }
        // Play and pause stay at every width.
        auto *play = strip->findChild<QAbstractButton *>(QStringLiteral("playPause"));
        ASSERT_TRUE(play);
        EXPECT_TRUE(play->isVisible());
    }
    document->close();
}
