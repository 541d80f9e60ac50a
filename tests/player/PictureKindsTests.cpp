// What the view shows of pictures that are more than a plain frame: interlaced fields woven or
// deinterlaced, transparency over black or a checkerboard, and an image sequence whose pictures
// change size. Clips are made by the ffmpeg tool from pictures this test draws, so every
// expectation comes from the picture drawn, not from the player.
#include "PictureTestSupport.h"

#include "player/window/BVDocumentWindowController.h"

#include <QDir>
#include <QPainter>
#include <QProcess>

using namespace DocumentTest;
using namespace PictureTest;

namespace {

// A clip of three frames of `picture` at this test's rate.
QString clipOf(const QImage &picture, const QString &name, const QStringList &output)
{
    return PictureTest::clipOf(picture, name, output, 25);
}

// Waits until the view's pixel at `at` satisfies `wanted`.
bool waitForPixel(BVDocument &document, QPoint at, const std::function<bool(QRgb)> &wanted)
{
    return BVTest::waitFor([&] {
        const QImage shot = DocumentTest::playbackView(document)->grab().toImage();
        return shot.rect().contains(at) && wanted(shot.pixel(at));
    });
}

// Mean brightness step from one row to the next over `area`: woven fields of different content
// comb (large steps every row), a whole picture is smooth.
double rowToRowDifference(const QImage &image, const QRect &area)
{
    double sum = 0;
    int count = 0;
    for (int y = area.top(); y < area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            sum += std::abs(qGray(image.pixel(x, y)) - qGray(image.pixel(x, y + 1)));
            ++count;
        }
    return count ? sum / count : 0;
}

QRect brightBox(const QImage &image, int threshold = 200)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) > threshold)
                box |= QRect(x, y, 1, 1);
    return box;
}

class PictureKinds : public ::testing::Test
{
protected:
    void SetUp() override { resetSettings(); }
    void TearDown() override { BVTest::spin(std::chrono::milliseconds(300)); }
};

} // namespace

TEST_F(PictureKinds, InterlacedFieldsCombUntilDeinterlacedThenTheFirstFieldIsWhole)
{
    // Two fields of different content woven into one 640 x 360 picture: the even lines (the top
    // field) hold a white square on the left, the odd lines (the bottom field) one on the right.
    const QRect left(100, 100, 160, 160), right(380, 100, 160, 160);
    QImage woven(640, 360, QImage::Format_RGB32);
    woven.fill(Qt::black);
    for (int y = 0; y < woven.height(); ++y) {
        const QRect &square = y % 2 == 0 ? left : right;
        if (y >= square.top() && y <= square.bottom())
            for (int x = square.left(); x <= square.right(); ++x)
                woven.setPixel(x, y, qRgb(255, 255, 255));
    }
    struct Case
    {
        const char *fields;
        QRect whole, gone; // the square of the field shown first, and the other one
    };
    for (const Case &c : {Case {"tff", left, right}, Case {"bff", right, left}}) {
        SCOPED_TRACE(c.fields);
        // 4:2:2, so that no chroma is shared between the lines of the two fields.
        const QString path = clipOf(woven, QStringLiteral("woven-%1").arg(QLatin1String(c.fields)),
            {QStringLiteral("-vf"), QStringLiteral("setfield=%1").arg(QLatin1String(c.fields)),
                QStringLiteral("-flags"), QStringLiteral("+ilme+ildct"), QStringLiteral("-c:v"),
                QStringLiteral("prores_ks"), QStringLiteral("-profile:v"), QStringLiteral("2"),
                QStringLiteral("-pix_fmt"), QStringLiteral("yuv422p10le")});
        auto document = open(path);
        ASSERT_TRUE(document->mediaObject());
        document->windowController()->setActualSize();
        BVTest::spin(std::chrono::milliseconds(200));
        const QRectF video = document->playbackView()->videoRect();
        ASSERT_EQ(video.size(), QSizeF(640, 360));
        const QPoint origin = video.topLeft().toPoint();
        // Inside each square, away from its top and bottom edges.
        const auto inner
            = [&](const QRect &square) { return square.adjusted(8, 8, -8, -8).translated(origin); };

        // Off by default: the fields are woven, every other line of each square is black.
        QAction *toggle = document->windowController()->actionNamed(QStringLiteral("toggleDeinterlace"));
        ASSERT_TRUE(toggle);
        EXPECT_EQ(toggle->text(), QStringLiteral("Deinterlace"));
        EXPECT_FALSE(toggle->isChecked());
        ASSERT_TRUE(BVTest::waitFor([&] { return brightBox(grabView(*document)).width() > 400; }));
        QImage shot = grabView(*document);
        EXPECT_GT(rowToRowDifference(shot, inner(c.whole)), 200);
        EXPECT_GT(rowToRowDifference(shot, inner(c.gone)), 200);

        // On: the first field is whole and the second one gone, with no combing left.
        toggle->trigger();
        EXPECT_TRUE(toggle->isChecked());
        EXPECT_TRUE(defaults()->boolForKey(QStringLiteral("deinterlace")));
        const QPoint gone = inner(c.gone).center();
        ASSERT_TRUE(BVTest::waitFor([&] {
            const QImage now = grabView(*document);
            return qGray(now.pixel(gone)) < 40 && qGray(now.pixel(gone + QPoint(0, 1))) < 40;
        }));
        shot = grabView(*document);
        EXPECT_LT(rowToRowDifference(shot, inner(c.whole)), 4);
        EXPECT_LT(rowToRowDifference(shot, inner(c.gone)), 4);
        EXPECT_GT(qGray(shot.pixel(inner(c.whole).center())), 230);
        EXPECT_GT(qGray(shot.pixel(inner(c.whole).center() + QPoint(0, 1))), 230);
        const QRect square = brightBox(shot);
        EXPECT_NEAR(square.width(), 160, 4);
        EXPECT_NEAR(square.height(), 160, 4);

        // Off again: woven once more.
        toggle->trigger();
        EXPECT_FALSE(defaults()->boolForKey(QStringLiteral("deinterlace")));
        ASSERT_TRUE(
            BVTest::waitFor([&] { return rowToRowDifference(grabView(*document), inner(c.gone)) > 200; }));
        document->close();
    }
}

TEST_F(PictureKinds, TransparencyShowsOverBlackUnlessTheCheckerboardIsChosen)
{
    // ProRes 4444 with alpha: an opaque red left third, a half-transparent white middle third and
    // a fully transparent right third.
    QImage picture(480, 240, QImage::Format_ARGB32);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(QRect(0, 0, 160, 240), QColor(220, 30, 30, 255));
    painter.fillRect(QRect(160, 0, 160, 240), QColor(255, 255, 255, 128));
    painter.end();
    const QString path = clipOf(picture, QStringLiteral("alpha"),
        {QStringLiteral("-c:v"), QStringLiteral("prores_ks"), QStringLiteral("-profile:v"),
            QStringLiteral("4444"), QStringLiteral("-pix_fmt"), QStringLiteral("yuva444p10le")});
    auto document = open(path);
    ASSERT_TRUE(document->mediaObject());
    document->windowController()->setActualSize();
    BVTest::spin(std::chrono::milliseconds(200));
    const QRectF video = document->playbackView()->videoRect();
    // The window is at least 540 wide: the picture is shown larger, but whole.
    ASSERT_NEAR(video.width() / video.height(), 2.0, 0.01);
    const auto at = [&](double fx, double fy) {
        return QPoint(int(video.left() + fx * video.width()), int(video.top() + fy * video.height()));
    };
    const auto isRed = [](QRgb p) { return qRed(p) > 200 && qGreen(p) < 60 && qBlue(p) < 60; };
    ASSERT_TRUE(waitForPixel(*document, at(1.0 / 6, 0.5), isRed));

    // Over black by default: the transparent third is black, the half-transparent one mid grey.
    QImage shot = grabView(*document);
    EXPECT_TRUE(isRed(shot.pixel(at(1.0 / 6, 0.5))));
    const QRgb half = shot.pixel(at(0.5, 0.5));
    EXPECT_NEAR(qRed(half), 128, 6);
    EXPECT_NEAR(qGreen(half), 128, 6);
    EXPECT_NEAR(qBlue(half), 128, 6);
    QRgb clear = shot.pixel(at(5.0 / 6, 0.5));
    EXPECT_LE(qRed(clear) + qGreen(clear) + qBlue(clear), 6);

    // The checkerboard: the transparent third shows two greys in squares, light and dark
    // alternating along a line; the opaque third is unchanged.
    QAction *toggle = document->windowController()->actionNamed(QStringLiteral("toggleAlphaCheckerboard"));
    ASSERT_TRUE(toggle);
    toggle->trigger();
    ASSERT_TRUE(waitForPixel(*document, at(5.0 / 6, 0.5), [](QRgb p) { return qGray(p) > 60; }));
    shot = grabView(*document);
    EXPECT_TRUE(isRed(shot.pixel(at(1.0 / 6, 0.5))));
    const int y = at(0, 0.5).y();
    int light = 0, dark = 0, other = 0, changes = 0;
    int previous = -1;
    for (int x = at(0.7, 0).x(); x < at(0.98, 0).x(); ++x) {
        const QRgb p = shot.pixel(x, y);
        const bool grey = std::abs(qRed(p) - qGreen(p)) < 4 && std::abs(qGreen(p) - qBlue(p)) < 4;
        const int kind = !grey ? 2 : qGray(p) > 128 ? 1 : qGray(p) > 60 ? 0 : 2;
        (kind == 1 ? light : kind == 0 ? dark : other)++;
        if (previous >= 0 && kind != previous)
            ++changes;
        previous = kind;
    }
    EXPECT_GT(light, 20);
    EXPECT_GT(dark, 20);
    EXPECT_LE(other, (light + dark) / 10);
    // Squares, not stripes or noise: a handful of alternations across the third.
    EXPECT_GE(changes, 4);
    EXPECT_LE(changes, 40);
    // Half-transparent white over either grey stays lighter than that grey.
    EXPECT_GT(qGray(shot.pixel(at(0.5, 0.5))), 150);
    document->close();
}

TEST_F(PictureKinds, ImageSequencePicturesOfAnotherSizeKeepTheirOwnShape)
{
    // Six wide pictures, then six tall ones, each with a white square in the middle.
    const QString dir = BVTest::makeTempFolder(QStringLiteral("mixed"));
    QStringList files;
    for (int i = 0; i < 12; ++i) {
        const QSize size = i < 6 ? QSize(640, 360) : QSize(300, 500);
        const int side = i < 6 ? 200 : 150;
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::black);
        QPainter painter(&image);
        painter.fillRect(QRect((size.width() - side) / 2, (size.height() - side) / 2, side, side), Qt::white);
        painter.end();
        files << dir + QString::asprintf("/mixed_%04d.png", i);
        ASSERT_TRUE(image.save(files.last()));
    }
    ScreenDocument document;
    document.loadImageSequence(files, 24);
    document.showWindows();
    ASSERT_TRUE(BVTest::waitFor([&] { return document.isReady(); }));
    const auto squareShape = [&] {
        const QRect box = brightBox(grabView(document));
        return box.isEmpty() ? 0.0 : double(box.width()) / box.height();
    };
    ASSERT_TRUE(BVTest::waitFor([&] { return squareShape() > 0; }));
    EXPECT_NEAR(squareShape(), 1.0, 0.03);
    const QRectF wide = DocumentTest::playbackView(document)->videoRect();
    EXPECT_NEAR(wide.width() / wide.height(), 640.0 / 360.0, 0.02);

    // A tall picture: shown tall inside the same area, its square still square.
    ASSERT_TRUE(seekAndWait(document, MediaTime(800, 2400)));
    ASSERT_EQ(document.mediaObject()->currentFrame(), 8u);
    ASSERT_TRUE(BVTest::waitFor([&] {
        const QRectF now = DocumentTest::playbackView(document)->videoRect();
        return std::abs(now.width() / now.height() - 300.0 / 500.0) < 0.02;
    }));
    const QRectF tall = DocumentTest::playbackView(document)->videoRect();
    EXPECT_LE(tall.height(), DocumentTest::playbackView(document)->height() + 0.5);
    EXPECT_NEAR(squareShape(), 1.0, 0.03);
    const QRect square = brightBox(grabView(document));
    EXPECT_NEAR(square.width() / tall.width(), 150.0 / 300.0, 0.02);

    // And back to a wide one.
    ASSERT_TRUE(seekAndWait(document, MediaTime(200, 2400)));
    ASSERT_TRUE(BVTest::waitFor([&] {
        const QRectF now = DocumentTest::playbackView(document)->videoRect();
        return std::abs(now.width() / now.height() - 640.0 / 360.0) < 0.02;
    }));
    EXPECT_NEAR(squareShape(), 1.0, 0.03);
    document.close();
}
