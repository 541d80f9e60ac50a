// Scene-linear OpenEXR plates as the reviewer sees them: through the sRGB display curve in the
// window, in a saved frame and in the information panel. The plates are written by the ffmpeg
// tool from float values this test chooses; the expected codes come from the sRGB curve computed
// here.
#include "PictureTestSupport.h"

#include "export/BVDocumentExporter.h"
#include "export/BVFrameExport.h"
#include "export/BVInfoPanel.h"
#include "platform/media/MediaTransferCurve.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
}

using namespace DocumentTest;

namespace {

constexpr int kStripe = 32;
constexpr int kHeight = 72;
// Grey patches of linear light, left to right, then one coloured patch (red, green, blue).
const std::vector<float> kGreys {0.0f, 0.18f, 0.5f, 1.0f, 2.0f, -0.25f};
constexpr float kColour[3] = {0.5f, 0.18f, 1.0f};
constexpr int kWidth = kStripe * 7;

// The 8-bit code of a linear value through the sRGB curve, clipped.
int srgbCode(double linear)
{
    const double clipped = std::clamp(linear, 0.0, 1.0);
    const double encoded
        = clipped <= 0.0031308 ? clipped * 12.92 : 1.055 * std::pow(clipped, 1 / 2.4) - 0.055;
    return int(std::lround(encoded * 255));
}

// The linear value of each channel (red, green, blue) at column x of the plate.
std::array<float, 3> plateValue(int x)
{
    const int stripe = x / kStripe;
    if (stripe < int(kGreys.size()))
        return {kGreys[size_t(stripe)], kGreys[size_t(stripe)], kGreys[size_t(stripe)]};
    return {kColour[0], kColour[1], kColour[2]};
}

// An OpenEXR plate of 32-bit float pixels in the given planar ffmpeg format ("gbrpf32le",
// "gbrapf32le" with an opaque alpha).
QString writePlate(const QString &folder, const QString &name, const QString &format)
{
    const bool alpha = format == QLatin1String("gbrapf32le");
    std::vector<float> planes;
    for (int plane = 0; plane < (alpha ? 4 : 3); ++plane) {
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const std::array<float, 3> rgb = plateValue(x);
                // Planes in the order green, blue, red, alpha.
                planes.push_back(plane == 0 ? rgb[1] : plane == 1 ? rgb[2] : plane == 2 ? rgb[0] : 1.0f);
            }
        }
    }
    const QString raw = folder + u'/' + name + QStringLiteral(".raw");
    QFile file(raw);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char *>(planes.data()), qint64(planes.size() * sizeof(float)));
    file.close();
    const QString path = folder + u'/' + name + QStringLiteral(".exr");
    PictureTest::runFfmpeg({QStringLiteral("-f"), QStringLiteral("rawvideo"), QStringLiteral("-pix_fmt"),
        format, QStringLiteral("-s"), QStringLiteral("%1x%2").arg(kWidth).arg(kHeight), QStringLiteral("-i"),
        raw, QStringLiteral("-c:v"), QStringLiteral("exr"), QStringLiteral("-format"),
        QStringLiteral("float"), path});
    return path;
}

// Checks each patch of a picture showing the plate in `area` against the curve.
void expectPatches(const QImage &picture, const QRectF &area, const char *what)
{
    const double scale = area.width() / kWidth;
    for (int stripe = 0; stripe < 7; ++stripe) {
        const int plateX = stripe * kStripe + kStripe / 2;
        const QPoint at(int(area.left() + plateX * scale), int(area.top() + area.height() / 2));
        ASSERT_TRUE(picture.rect().contains(at)) << what;
        const QRgb pixel = picture.pixel(at);
        const std::array<float, 3> linear = plateValue(plateX);
        EXPECT_NEAR(qRed(pixel), srgbCode(linear[0]), 2) << what << " patch " << stripe;
        EXPECT_NEAR(qGreen(pixel), srgbCode(linear[1]), 2) << what << " patch " << stripe;
        EXPECT_NEAR(qBlue(pixel), srgbCode(linear[2]), 2) << what << " patch " << stripe;
    }
}

std::optional<QString> rowValue(const QVariantList &rows, const QString &description)
{
    for (const QVariant &row : rows) {
        const QVariantMap map = row.toMap();
        if (map.value(QStringLiteral("description")).toString() == description)
            return map.value(QStringLiteral("value")).toString();
    }
    return std::nullopt;
}

class LinearPicture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        resetSettings();
        defaults()->registerDefaults({{QStringLiteral("frameAspectRatioMask"), false},
            {QStringLiteral("frameEmbedAnnotation"), false}, {QStringLiteral("infoType"), 0}});
    }
    void TearDown() override { resetSettings(); }
};

} // namespace

TEST_F(LinearPicture, PlatesAreShownSavedAndDescribedThroughTheDisplayCurve)
{
    // Sanity of the expectations themselves: mid grey is code 118, not the 46 of raw values.
    ASSERT_EQ(srgbCode(0.18), 118);
    ASSERT_EQ(srgbCode(0.5), 188);

    const QString folder = BVTest::makeTempFolder(QStringLiteral("linear"));
    const QStringList files {writePlate(folder, QStringLiteral("plate_0001"), QStringLiteral("gbrpf32le")),
        writePlate(folder, QStringLiteral("plate_0002"), QStringLiteral("gbrapf32le"))};
    ScreenDocument document;
    BVDocumentExporter *exporter = BVDocumentExporter::install(document, nullptr);
    document.loadImageSequence(files, 24);
    document.showWindows();
    ASSERT_TRUE(BVTest::waitFor([&] { return document.isReady(); }));
    EXPECT_EQ(document.mediaObject()->naturalSize(), QSizeF(kWidth, kHeight));

    QSignalSpy saved(exporter, &BVDocumentExporter::frameSaved);
    for (int frame = 0; frame < 2; ++frame) {
        SCOPED_TRACE(files[frame].toStdString());
        ASSERT_TRUE(seekAndWait(document, MediaTime(frame * 100, 2400)));
        ASSERT_EQ(document.mediaObject()->currentFrame(), uint64_t(frame));
        // The view, with the picture where the view puts it.
        BVTest::spin(std::chrono::milliseconds(200));
        expectPatches(PictureTest::grabView(document), document.playbackView()->videoRect(), "view");

        // The saved frame holds the same codes.
        const QString path = QDir(folder).filePath(QStringLiteral("saved-%1.png").arg(frame));
        const int before = int(saved.count());
        document.saveFrame(path, BVFrameExport::PNG);
        ASSERT_TRUE(BVTest::waitFor([&] { return saved.count() > before; }));
        const QImage written(path);
        ASSERT_EQ(written.size(), QSize(kWidth, kHeight));
        expectPatches(written.convertToFormat(QImage::Format_RGB32), QRectF(0, 0, kWidth, kHeight), "saved");
    }

    // The information panel says how the picture is shown.
    document.updateInfoPanel();
    ASSERT_TRUE(BVTest::waitFor([&] {
        return exporter->infoPanel()
            && rowValue(exporter->infoPanel()->model()->infoArray(), QStringLiteral("Transfer Curve"));
    }));
    EXPECT_EQ(rowValue(exporter->infoPanel()->model()->infoArray(), QStringLiteral("Transfer Curve")),
        QStringLiteral("Linear light, shown through the sRGB curve"));
    document.close();
}

TEST(TransferCurve, OnlyUntaggedOrLinearFloatPicturesAreCurved)
{
    AVFrame *frame = av_frame_alloc();
    frame->format = AV_PIX_FMT_GRAYF32;
    frame->width = 4;
    frame->height = 1;
    ASSERT_GE(av_frame_get_buffer(frame, 0), 0);
    const float values[4] = {0.0031308f / 2, 0.18f, 0.75f, 1.5f};
    std::copy(values, values + 4, reinterpret_cast<float *>(frame->data[0]));

    frame->color_trc = AVCOL_TRC_LINEAR;
    EXPECT_TRUE(MediaTransferCurve::holdsLinearLight(frame));
    frame->color_trc = AVCOL_TRC_UNSPECIFIED;
    EXPECT_TRUE(MediaTransferCurve::holdsLinearLight(frame));
    // A picture that carries its own display curve is shown as stored.
    for (AVColorTransferCharacteristic other : {AVCOL_TRC_BT709, AVCOL_TRC_IEC61966_2_1, AVCOL_TRC_GAMMA22}) {
        frame->color_trc = other;
        EXPECT_FALSE(MediaTransferCurve::holdsLinearLight(frame)) << other;
    }
    frame->color_trc = AVCOL_TRC_LINEAR;

    // Grey comes out in all three planes, at 16 bits, within a step of the curve: near black one
    // step of linear light moves the display value by 12.92 / 65535 (a twentieth of an 8-bit code).
    MediaTransferCurve::Frame display = MediaTransferCurve::displayFrame(frame);
    ASSERT_TRUE(display);
    EXPECT_EQ(display->format, AV_PIX_FMT_GBRP16);
    for (int plane = 0; plane < 3; ++plane) {
        const auto *row = reinterpret_cast<const uint16_t *>(display->data[plane]);
        for (int x = 0; x < 4; ++x) {
            const double v = std::min(double(values[x]), 1.0);
            const double expected = v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
            EXPECT_NEAR(row[x], expected * 65535, 7.0) << plane << " " << x;
        }
    }

    // Integer pictures are never taken for light.
    AVFrame *integer = av_frame_alloc();
    integer->format = AV_PIX_FMT_RGB48;
    integer->color_trc = AVCOL_TRC_LINEAR;
    EXPECT_FALSE(MediaTransferCurve::holdsLinearLight(integer));
    av_frame_free(&integer);
    av_frame_free(&frame);
}
