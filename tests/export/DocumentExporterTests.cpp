// The export feature in a player document: the information panel following the in and out points,
// the frame on screen saved as a picture (read back from the pixels of a clip whose frames carry
// their index as 16 bars, most significant bit first), a movie export queued in the activity
// window and read by ffprobe, and the progress sheet's estimate.
#include "ExportTestSupport.h"
#include "player/DocumentTestSupport.h"

#include "export/BVAVExport.h"
#include "export/BVActivityController.h"
#include "export/BVActivityItemExport.h"
#include "export/BVDocumentExporter.h"
#include "export/BVFrameExport.h"
#include "export/BVInfoPanel.h"
#include "platform/media/engine/MediaPlayer.h"
#include "player/document/BVDocumentAnnotations.h"
#include "player/window/BVDocumentWindowController.h"
#include "support/BVLocalPaths.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QSignalSpy>
#include <QTimer>

#include <optional>

void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace {

using namespace DocumentTest;

// Four seconds at 25 fps, 64 x 16, no timecode track: frame n starts at n / 25 s.
QString barcodeClip()
{
    return BVTest::sampleMedia(QStringLiteral("barcode"),
        {QStringLiteral("--rate"), QStringLiteral("25"), QStringLiteral("--duration"), QStringLiteral("4"),
            QStringLiteral("--name"), QStringLiteral("export-bars")});
}

struct Opened
{
    std::unique_ptr<ScreenDocument> document;
    BVDocumentExporter *exporter = nullptr;
};

Opened openWithExporter(const QString &path, BVActivityController *activity)
{
    Opened opened;
    opened.document = std::make_unique<ScreenDocument>();
    opened.exporter = BVDocumentExporter::install(*opened.document, activity);
    BVError error;
    EXPECT_TRUE(opened.document->readFromURL(QUrl::fromLocalFile(path), BVDocument::movieType(), &error))
        << error.description().toStdString();
    BVDocumentWindowController::showWindows(*opened.document);
    ScreenDocument *d = opened.document.get();
    EXPECT_TRUE(BVTest::waitFor([d] {
        auto *asset = dynamic_cast<BVAVAsset *>(d->mediaObject());
        return d->isReady() && asset && asset->isReadyToPlay();
    }));
    BVTest::spin(std::chrono::milliseconds(300));
    return opened;
}

// Seeks to a frame and waits until the picture shows it.
bool showFrame(BVDocument &document, int frame)
{
    if (!seekAndWait(document, MediaTime(frame, 25)))
        return false;
    return BVTest::waitFor([&] { return shownIndex(document) == frame; });
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

int rowIndex(const QVariantList &rows, const QString &description)
{
    for (int i = 0; i < rows.size(); ++i) {
        if (rows.at(i).toMap().value(QStringLiteral("description")).toString() == description)
            return i;
    }
    return -1;
}

int separatorIndex(const QVariantList &rows)
{
    for (int i = 0; i < rows.size(); ++i) {
        if (rows.at(i).toMap().value(QStringLiteral("type")).toString() == QLatin1String("separator"))
            return i;
    }
    return -1;
}

// Draws an opaque red square over the middle of the annotation canvas, as a stored annotation
// would, and remembers the time it was asked for.
class SquareAnnotation : public BVDocumentAnnotations
{
public:
    void drawAnnotationAtTime(const MediaTime &time, QPainter &painter, const QRectF &target) const override
    {
        askedAt = time;
        painter.fillRect(QRectF(target.width() * 0.25, 0, target.width() * 0.5, target.height()), Qt::red);
    }
    mutable MediaTime askedAt = MediaTime::invalid();
};

class DocumentExporterTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        resetSettings();
        defaults()->registerDefaults({{QStringLiteral("frameAspectRatioMask"), true},
            {QStringLiteral("frameEmbedAnnotation"), false}, {QStringLiteral("infoType"), 0}});
    }
    void TearDown() override { resetSettings(); }
};

} // namespace

TEST_F(DocumentExporterTest, InformationRowsFollowTheInAndOutPoints)
{
    Opened opened = openWithExporter(barcodeClip(), nullptr);
    BVDocument &document = *opened.document;
    ASSERT_TRUE(BVTest::waitFor([&] {
        return opened.exporter->infoPanel() && !opened.exporter->infoPanel()->model()->infoArray().isEmpty();
    }));
    BVInfoTableModel *model = opened.exporter->infoPanel()->model();
    // The rows of the clip: 64 x 16 at 25 fps, 100 frames (00:00:04:00 counted from zero).
    EXPECT_EQ(rowValue(model->infoArray(), QStringLiteral("Frame Rate")), QStringLiteral("25.00"));
    EXPECT_EQ(rowValue(model->infoArray(), QStringLiteral("Resolution")), QStringLiteral("64 x 16"));
    EXPECT_EQ(rowValue(model->infoArray(), QStringLiteral("Duration")), QStringLiteral("00:00:04:00"));
    EXPECT_FALSE(rowValue(model->infoArray(), QStringLiteral("Selected Range")));
    // The table shows the information list and nothing can be edited.
    EXPECT_EQ(model->rowCount(), model->infoArray().size());
    EXPECT_FALSE(model->flags(model->index(0, 1)) & Qt::ItemIsEditable);

    // In at frame 25, out at frame 75: 50 frames, two seconds.
    QSignalSpy populated(opened.exporter, &BVDocumentExporter::infoPopulated);
    ASSERT_TRUE(showFrame(document, 25));
    document.setInPoint();
    ASSERT_TRUE(showFrame(document, 75));
    document.setOutPoint();
    // (With the in point alone the range runs to the end; the rows follow the latest change.)
    EXPECT_TRUE(BVTest::waitFor([&] {
        return rowValue(model->infoArray(), QStringLiteral("Selected Range"))
            == QStringLiteral("00:00:02:00");
    })) << rowValue(model->infoArray(), QStringLiteral("Selected Range"))
               .value_or(QStringLiteral("none"))
               .toStdString();
    // Just above the separator.
    EXPECT_EQ(rowIndex(model->infoArray(), QStringLiteral("Selected Range")) + 1,
        separatorIndex(model->infoArray()));
    EXPECT_GE(populated.count(), 1);

    // In frames, the range and the duration are counts.
    defaults()->setInteger(2, QStringLiteral("timecodeDisplay"));
    document.updateInfoPanel();
    ASSERT_TRUE(BVTest::waitFor([&] {
        return rowValue(model->infoArray(), QStringLiteral("Selected Range")) == QStringLiteral("50");
    }));
    EXPECT_EQ(rowValue(model->infoArray(), QStringLiteral("Duration")), QStringLiteral("100"));

    // Clearing the points takes the row away again.
    document.clearInOut();
    ASSERT_TRUE(BVTest::waitFor(
        [&] { return !rowValue(model->infoArray(), QStringLiteral("Selected Range")).has_value(); }));
    EXPECT_EQ(rowValue(model->infoArray(), QStringLiteral("Resolution")), QStringLiteral("64 x 16"));
    document.close();
}

TEST_F(DocumentExporterTest, SavesTheFrameOnScreen)
{
    Opened opened = openWithExporter(barcodeClip(), nullptr);
    BVDocument &document = *opened.document;
    QSignalSpy saved(opened.exporter, &BVDocumentExporter::frameSaved);
    QSignalSpy failed(opened.exporter, &BVDocumentExporter::frameFailed);
    const QString folder = BVTest::makeTempFolder(QStringLiteral("frames"));

    for (int frame : {37, 0, 99}) {
        ASSERT_TRUE(showFrame(document, frame)) << frame;
        const int before = int(saved.count());
        const QString path = QDir(folder).filePath(QStringLiteral("frame-%1.png").arg(frame));
        document.saveFrame(path, BVFrameExport::PNG);
        ASSERT_TRUE(BVTest::waitFor([&] { return saved.count() > before; })) << frame;
        EXPECT_EQ(saved.last().at(0).toString(), path);
        QImage written(path);
        ASSERT_FALSE(written.isNull()) << frame;
        EXPECT_EQ(written.size(), QSize(64, 16));
        EXPECT_EQ(pictureIndex(written), frame);
        EXPECT_EQ(pictureIndex(written), shownIndex(document));
    }

    // JPEG asked for a name still ending in png: both extensions, and a JPEG file.
    ASSERT_TRUE(showFrame(document, 12));
    document.saveFrame(QDir(folder).filePath(QStringLiteral("still.png")), BVFrameExport::JPEG);
    ASSERT_TRUE(BVTest::waitFor(
        [&] { return QFileInfo::exists(QDir(folder).filePath(QStringLiteral("still.png.jpg"))); }));
    EXPECT_FALSE(QFileInfo::exists(QDir(folder).filePath(QStringLiteral("still.png"))));
    QImageReader reader(QDir(folder).filePath(QStringLiteral("still.png.jpg")));
    EXPECT_EQ(reader.format(), QByteArray("jpeg"));
    EXPECT_EQ(pictureIndex(reader.read()), 12);

    // The alternate command: on the desktop under "<name> <timecode digits>.png", at once. Frame 37
    // at 25 fps from 00:00:00:00 is 00:00:01:12.
    ASSERT_TRUE(showFrame(document, 37));
    const QString desktopFile
        = QDir(BVLocalPaths::desktopDirectory()).filePath(QStringLiteral("export-bars 00000112.png"));
    QFile::remove(desktopFile);
    document.exportFrame(true);
    ASSERT_TRUE(BVTest::waitFor([&] { return QFileInfo::exists(desktopFile); }));
    ASSERT_TRUE(
        BVTest::waitFor([&] { return saved.count() > 0 && saved.last().at(0).toString() == desktopFile; }));
    EXPECT_EQ(pictureIndex(QImage(desktopFile)), 37);
    // A second one does not overwrite the first.
    document.exportFrame(true);
    const QString second
        = QDir(BVLocalPaths::desktopDirectory()).filePath(QStringLiteral("export-bars 00000112 2.png"));
    EXPECT_TRUE(BVTest::waitFor([&] { return QFileInfo::exists(second); }));

    // A folder that cannot be written to is reported, not passed over.
    const int failures = int(failed.count());
    document.saveFrame(QStringLiteral("/proc/no-such-folder/frame.png"), BVFrameExport::PNG);
    EXPECT_TRUE(BVTest::waitFor([&] { return failed.count() > failures; }));
    document.close();
}

TEST_F(DocumentExporterTest, CompositesTheAnnotationWhenAskedTo)
{
    Opened opened = openWithExporter(barcodeClip(), nullptr);
    BVDocument &document = *opened.document;
    auto annotation = std::make_unique<SquareAnnotation>();
    SquareAnnotation *square = annotation.get();
    document.setAnnotations(std::move(annotation));
    QSignalSpy saved(opened.exporter, &BVDocumentExporter::frameSaved);
    const QString folder = BVTest::makeTempFolder(QStringLiteral("annotated"));
    ASSERT_TRUE(showFrame(document, 5));

    // Off by default: the picture as it is.
    document.saveFrame(QDir(folder).filePath(QStringLiteral("plain.png")), BVFrameExport::PNG);
    ASSERT_TRUE(BVTest::waitFor([&] { return saved.count() == 1; }));
    const QImage plain(QDir(folder).filePath(QStringLiteral("plain.png")));
    EXPECT_EQ(pictureIndex(plain), 5);
    EXPECT_NE(plain.pixel(32, 8), qRgb(255, 0, 0));

    defaults()->setBool(true, QStringLiteral("frameEmbedAnnotation"));
    document.saveFrame(QDir(folder).filePath(QStringLiteral("annotated.png")), BVFrameExport::PNG);
    ASSERT_TRUE(BVTest::waitFor([&] { return saved.count() == 2; }));
    const QImage annotated(QDir(folder).filePath(QStringLiteral("annotated.png")));
    // Asked for the time on screen; the middle half red, the outer quarters the frame's own bars.
    EXPECT_EQ(square->askedAt, document.currentTime());
    EXPECT_EQ(annotated.pixel(32, 8), qRgb(255, 0, 0));
    EXPECT_EQ(annotated.pixel(17, 8), qRgb(255, 0, 0));
    EXPECT_EQ(annotated.pixel(2, 8), plain.pixel(2, 8));
    EXPECT_EQ(annotated.pixel(61, 8), plain.pixel(61, 8));
    document.close();
}

TEST_F(DocumentExporterTest, ExportedMovieFromTheDocumentIsQueuedAndReadable)
{
    BVActivityController activity;
    const QString clip = barcodeClip();
    Opened opened = openWithExporter(clip, &activity);
    BVDocument &document = *opened.document;
    const QString out
        = QDir(BVTest::makeTempFolder(QStringLiteral("movies"))).filePath(QStringLiteral("copy.mov"));
    // In at frame 10, out at frame 60: 50 frames exported.
    ASSERT_TRUE(showFrame(document, 10));
    document.setInPoint();
    ASSERT_TRUE(showFrame(document, 60));
    document.setOutPoint();

    // The save panel: the proposed name, then the chosen path.
    QString proposed;
    QTimer::singleShot(300, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog) {
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                if (auto *d = qobject_cast<QFileDialog *>(widget); d && d->isVisible())
                    dialog = d;
            }
        }
        ASSERT_NE(dialog, nullptr);
        if (auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
            proposed = name->text();
        if (auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
            name->setText(out);
        static_cast<QDialog *>(dialog)->accept();
    });
    document.exportMovie();
    EXPECT_EQ(proposed, QStringLiteral("export-bars copy.mov"));
    ASSERT_EQ(activity.items().size(), 1u);
    EXPECT_EQ(activity.items().front()->description(), QStringLiteral("Export: copy"));
    ASSERT_TRUE(
        BVTest::waitFor([&] { return activity.items().front()->status() == BVActivityItem::Finished; },
            std::chrono::seconds(60)));

    const QJsonObject probe = ExportTest::probe(out);
    const QJsonObject video = ExportTest::stream(probe, QStringLiteral("video"));
    EXPECT_EQ(video.value(QStringLiteral("codec_tag_string")).toString(), QStringLiteral("avc1"));
    EXPECT_EQ(video.value(QStringLiteral("width")).toInt(), 64);
    EXPECT_EQ(video.value(QStringLiteral("height")).toInt(), 16);
    EXPECT_EQ(video.value(QStringLiteral("nb_frames")).toString().toInt(), 50);
    document.close();
}

TEST_F(DocumentExporterTest, ProgressSheetShowsTheEstimate)
{
    std::unique_ptr<ScreenDocument> document = open(barcodeClip());
    BVDocumentWindowController::of(*document)->startProgress();
    auto *label = BVDocumentWindowController::of(*document)->window()->findChild<QLabel *>(
        QStringLiteral("progressTimeEstimate"));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), QStringLiteral("Unknown time remaining"));

    // A clock the test moves: 3 s in, the estimate is still being calculated; 10 s in at a
    // quarter, three times as long again is left.
    const QDateTime started = QDateTime::currentDateTimeUtc();
    QDateTime now = started;
    BVDocumentWindowController::of(*document)->timeEstimate().setClock([&now] { return now; });
    BVDocumentWindowController::of(*document)->timeEstimate().startDate = started;
    now = started.addSecs(3);
    BVDocumentWindowController::of(*document)->setProgress(0.1);
    EXPECT_EQ(label->text(), QStringLiteral("Calculating time remaining"));
    now = started.addSecs(10);
    BVDocumentWindowController::of(*document)->setProgress(0.25);
    EXPECT_EQ(label->text(), QStringLiteral("00:00:30 remaining"));
    // No progress since the start: unknown.
    now = started.addSecs(20);
    BVDocumentWindowController::of(*document)->timeEstimate().startValue = 0.25;
    BVDocumentWindowController::of(*document)->setProgress(0.25);
    EXPECT_EQ(label->text(), QStringLiteral("Unknown remaining"));
    BVDocumentWindowController::of(*document)->endProgress();
    document->close();
}
