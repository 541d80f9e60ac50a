// The markers in the player window: M on a paused frame, the arrow keys, the popover, the tag strip,
// annotation mode and the transport's discard question, on clips whose frames carry their index in
// their pixels (16 bars, most significant bit first), read back here without the player's code.
#include "player/DocumentTestSupport.h"

#include "markers/BVAnnotationCache.h"
#include "markers/BVAnnotationCanvas.h"
#include "markers/BVDocumentAnnotationController.h"
#include "markers/BVDocumentMarkerController.h"
#include "markers/BVMarkerModel.h"
#include "markers/BVMarkerPopover.h"
#include "markers/BVMarkerView.h"
#include "platform/media/engine/MediaPlayer.h"
#include "player/window/BVDocumentWindowController.h"
#include "player/window/BVTimecodeHoverView.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QtTest/QTest>

#include <vector>

void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace {

using namespace DocumentTest;

// Waits until the picture holds a frame other than `before` (or any frame when before is -1) and
// stays on it; answers it.
int settledIndex(BVDocument &document, int before = -2)
{
    BVTest::waitFor([&] {
        const int shown = shownIndex(document);
        return shown >= 0 && shown != before;
    });
    QTest::qWait(80);
    return shownIndex(document);
}

std::unique_ptr<ScreenDocument> openWithMarkers(const QString &path)
{
    auto document = std::make_unique<ScreenDocument>();
    BVDocumentMarkerController::install(*document);
    BVError error;
    EXPECT_TRUE(document->readFromURL(QUrl::fromLocalFile(path), BVDocument::movieType(), &error))
        << error.description().toStdString();
    BVDocumentWindowController::showWindows(*document);
    ScreenDocument *d = document.get();
    EXPECT_TRUE(BVTest::waitFor([d] {
        auto *asset = dynamic_cast<BVAVAsset *>(d->mediaObject());
        return d->isReady() && asset && asset->isReadyToPlay();
    }));
    QTest::qWait(200);
    return document;
}

BVDocumentMarkerController &markersOf(BVDocument &document)
{
    return *static_cast<BVDocumentMarkerController *>(document.markers());
}

BVDocumentAnnotationController &annotationsOf(BVDocument &document)
{
    return *static_cast<BVDocumentAnnotationController *>(document.annotations());
}

void key(BVDocument &document, Qt::Key k)
{
    QTest::keyClick(BVDocumentWindowController::of(document)->playbackView(), k);
}

// Return in the popover's label closes it, as the user does.
void closePopover(BVDocument &document)
{
    BVMarkerPopover *popover = markersOf(document).popover();
    ASSERT_NE(popover, nullptr);
    if (popover->isVisible())
        QTest::keyClick(popover->labelField(), Qt::Key_Return);
    EXPECT_FALSE(popover->isVisible());
}

// Clicks the button with the title on the next alert that appears.
void answerNextAlert(const QString &title, QString *seen = nullptr)
{
    auto *timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, title, seen] {
        for (QWidget *widget : QApplication::allWidgets()) {
            auto *box = qobject_cast<QMessageBox *>(widget);
            if (!box || !box->isVisible())
                continue;
            for (QAbstractButton *button : box->buttons()) {
                if (button->text() == title) {
                    if (seen)
                        *seen = box->text();
                    timer->stop();
                    timer->deleteLater();
                    button->click();
                    return;
                }
            }
        }
    });
    timer->start(20);
}

// Drags across the canvas: a stroke of a few points.
void drawStroke(QWidget *canvas, const QList<QPoint> &points)
{
    QMouseEvent press(QEvent::MouseButtonPress, points.first(), canvas->mapToGlobal(points.first()),
        Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(canvas, &press);
    for (const QPoint &p : points) {
        QMouseEvent move(
            QEvent::MouseMove, p, canvas->mapToGlobal(p), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(canvas, &move);
    }
    QMouseEvent release(QEvent::MouseButtonRelease, points.last(), canvas->mapToGlobal(points.last()),
        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(canvas, &release);
}

struct Clip
{
    const char *rate;
    int timebase;
    int dropped;
    const char *start;
    int64_t frames;
    std::vector<int64_t> targets;
};

class MarkerOnScreen : public ::testing::TestWithParam<Clip>
{
};

// M on a paused frame makes a marker carrying the timecode of the picture on screen: at a frame's
// start, half a frame in, and across a dropped label at 29.97.
TEST_P(MarkerOnScreen, MarkerCarriesTheTimecodeOfThePictureShown)
{
    resetSettings();
    const Clip &clip = GetParam();
    const QString start = QString::fromLatin1(clip.start);
    const QString path = BVTest::sampleMedia(QStringLiteral("barcode"),
        {QStringLiteral("--rate"), QString::fromLatin1(clip.rate), QStringLiteral("--frames"),
            QString::number(clip.frames), QStringLiteral("--tc"), start});
    ASSERT_FALSE(path.isEmpty());
    const std::vector<QString> labels = countLabels(clip.timebase, clip.dropped, start.mid(0, 2).toInt(),
        start.mid(3, 2).toInt(), start.mid(6, 2).toInt(), start.mid(9, 2).toInt(), clip.frames);
    auto document = openWithMarkers(path);
    BVMarkerModel &model = markersOf(*document).model();
    const QStringList parts = QString::fromLatin1(clip.rate).split(u'/');
    const int64_t num = parts.at(0).toLongLong();
    const int64_t den = parts.size() > 1 ? parts.at(1).toLongLong() : 1;

    int before = -2;
    for (int64_t target : clip.targets) {
        for (bool halfway : {false, true}) {
            SCOPED_TRACE(std::to_string(target) + (halfway ? " halfway" : ""));
            // The start of the frame, or half a frame after it, in the rate's own ticks.
            const MediaTime at(target * den * 2 + (halfway ? den : 0), int32_t(num * 2));
            ASSERT_TRUE(seekAndWait(*document, at));
            const int shown = settledIndex(*document, halfway ? -2 : before);
            before = shown;
            ASSERT_GE(shown, 0);
            ASSERT_LT(shown, int(labels.size()));
            const qsizetype count = model.markers().size();
            key(*document, Qt::Key_M);
            ASSERT_TRUE(BVTest::waitFor([&] { return markersOf(*document).popover()->isVisible(); }));
            closePopover(*document);
            const BVMarker made = markersOf(*document).popover()->marker();
            ASSERT_TRUE(made);
            if (halfway) {
                // The same frame on screen: M opens the marker already there, or makes one at this
                // time; either way it names the picture.
                EXPECT_LE(model.markers().size(), count + 1);
            } else {
                EXPECT_EQ(model.markers().size(), count + 1);
            }
            EXPECT_EQ(made->value(BVMarkerKey::timecode).toString(), labels[size_t(shown)]);
            EXPECT_EQ(document->mediaObject()->frameAtTime(BVMarkers::positionOf(made)), shown);
        }
    }
    // What is stored names the same frames after the file is opened again.
    const QVariantList stored = defaults()
                                    ->dictionaryForKey(QStringLiteral("fileSettings"))
                                    .value(document->fileSettingsKey())
                                    .toMap()
                                    .value(QStringLiteral("markers"))
                                    .toList();
    EXPECT_EQ(stored.size(), model.markers().size());
    document->close();
}

const Clip clips[] = {
    {"24000/1001", 24, 0, "01:00:00:00", 2 * 60 * 24, {5, 1439, 1440, 2000}},
    {"30000/1001", 30, 2, "01:00:00;00", 2 * 60 * 30, {3, 1799, 1800, 1801, 3000}},
};

std::string clipName(const ::testing::TestParamInfo<Clip> &param)
{
    return param.param.dropped ? "DF2997" : "R23976";
}

INSTANTIATE_TEST_SUITE_P(Rates, MarkerOnScreen, ::testing::ValuesIn(clips), clipName);

QString barcode24()
{
    return BVTest::sampleMedia(QStringLiteral("barcode"),
        {QStringLiteral("--rate"), QStringLiteral("24"), QStringLiteral("--frames"), QStringLiteral("240"),
            QStringLiteral("--tc"), QStringLiteral("00:00:00:00")});
}

// M twice at one time opens the first marker again; the arrows walk the markers and the picture
// follows; clicking a tag opens it for editing and the popover's commit is stored.
TEST(MarkerWiring, KeysThePopoverAndTheTagStrip)
{
    resetSettings();
    defaults()->setBool(true, QStringLiteral("showMarkersWhileStopped"));
    auto document = openWithMarkers(barcode24());
    BVDocumentMarkerController &markers = markersOf(*document);
    BVMarkerModel &model = markers.model();

    for (int64_t frame : {48, 120}) {
        ASSERT_TRUE(seekAndWait(*document, MediaTime(frame, 24)));
        ASSERT_EQ(settledIndex(*document), frame);
        key(*document, Qt::Key_M);
        ASSERT_TRUE(BVTest::waitFor([&] { return markers.popover()->isVisible(); }));
        EXPECT_FALSE(markers.popover()->isDisplayOnly()) << "a new marker opens for editing";
        closePopover(*document);
    }
    ASSERT_EQ(model.markers().size(), 2);
    const BVMarker second = model.markers().at(1);
    key(*document, Qt::Key_M);
    ASSERT_TRUE(BVTest::waitFor([&] { return markers.popover()->isVisible(); }));
    EXPECT_EQ(model.markers().size(), 2) << "one marker per playhead time";
    EXPECT_EQ(markers.popover()->marker(), second);
    closePopover(*document);
    EXPECT_EQ(markers.markerView()->markers().size(), 2) << "both on the tag strip";

    // Up and Down, released: the previous and next marker; the picture shows its frame.
    ASSERT_TRUE(seekAndWait(*document, MediaTime(200, 24)));
    ASSERT_EQ(settledIndex(*document), 200);
    key(*document, Qt::Key_Up);
    EXPECT_EQ(settledIndex(*document, 200), 120);
    key(*document, Qt::Key_Up);
    EXPECT_EQ(settledIndex(*document, 120), 48);
    key(*document, Qt::Key_Down);
    EXPECT_EQ(settledIndex(*document, 48), 120);
    EXPECT_EQ(markers.popover()->isVisible(), true) << "stepping shows the marker read-only";
    EXPECT_TRUE(markers.popover()->isDisplayOnly());
    markers.closePopover();

    // A click on the first tag: the popover opens for editing and the playhead goes there.
    BVMarkerView *strip = markers.markerView();
    const int x = int(model.markers().at(0)->value(BVMarkerKey::val).toDouble() * strip->width());
    QTest::mouseClick(strip, Qt::LeftButton, Qt::NoModifier, QPoint(x, strip->height() - 4));
    ASSERT_TRUE(BVTest::waitFor([&] { return markers.popover()->isVisible(); }));
    EXPECT_FALSE(markers.popover()->isDisplayOnly());
    EXPECT_EQ(settledIndex(*document, 120), 48);
    EXPECT_EQ(markers.popover()->marker(), model.markers().at(0));
    QLineEdit *label = markers.popover()->labelField();
    label->selectAll();
    QTest::keyClicks(label, QStringLiteral("Boom in shot"));
    QTest::keyClick(label, Qt::Key_Return);
    const QVariantList stored = defaults()
                                    ->dictionaryForKey(QStringLiteral("fileSettings"))
                                    .value(document->fileSettingsKey())
                                    .toMap()
                                    .value(QStringLiteral("markers"))
                                    .toList();
    ASSERT_EQ(stored.size(), 2);
    EXPECT_EQ(stored.at(0).toMap().value(QStringLiteral("name")).toString(), QStringLiteral("Boom in shot"));
    EXPECT_EQ(stored.at(1).toMap().value(QStringLiteral("name")).toString(), QStringLiteral("Marker 2"));

    // Typing in the label never reaches the transport: "m" went into the name, no marker was made.
    EXPECT_EQ(model.markers().size(), 2);
    document->close();
}

// Escape in a new marker's name field closes the popover keeping the name, and the next arrow key,
// typed where the keyboard now is, steps one frame.
TEST(MarkerWiring, EscapeAfterANewMarkerGivesTheKeysBackToTheTransport)
{
    resetSettings();
    auto document = openWithMarkers(barcode24());
    BVDocumentMarkerController &markers = markersOf(*document);
    document->window()->activateWindow();
    ASSERT_TRUE(seekAndWait(*document, MediaTime(60, 24)));
    ASSERT_EQ(settledIndex(*document), 60);
    key(*document, Qt::Key_M);
    ASSERT_TRUE(BVTest::waitFor([&] { return markers.popover()->isVisible(); }));
    QLineEdit *label = markers.popover()->labelField();
    ASSERT_TRUE(BVTest::waitFor([&] { return QApplication::focusWidget() == label; }));
    const QString name = label->text();
    QTest::keyClicks(label, QStringLiteral(" typed"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_FALSE(markers.popover()->isVisible());
    ASSERT_EQ(markers.model().markers().size(), 1);
    EXPECT_EQ(markers.model().markers().at(0)->value(BVMarkerKey::name).toString(), name);
    ASSERT_NE(QApplication::focusWidget(), nullptr);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
    EXPECT_EQ(settledIndex(*document, 60), 61);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Left);
    EXPECT_EQ(settledIndex(*document, 61), 60);
    document->close();
}

// A drawing not saved holds the playhead: a seek asks, "Cancel" keeps the position and the drawing,
// "Discard Annotation" lets the seek go. A saved drawing comes back over the picture when the file
// is opened again and the playhead arrives at its marker.
TEST(MarkerWiring, AnnotationModeTheDiscardQuestionAndASavedDrawing)
{
    resetSettings();
    const QString path = barcode24();
    QString uuid;
    QString svg;
    {
        auto document = openWithMarkers(path);
        BVDocumentMarkerController &markers = markersOf(*document);
        BVDocumentAnnotationController &annotations = annotationsOf(*document);
        ASSERT_TRUE(seekAndWait(*document, MediaTime(72, 24)));
        ASSERT_EQ(settledIndex(*document), 72);
        key(*document, Qt::Key_M);
        ASSERT_TRUE(BVTest::waitFor([&] { return markers.popover()->isVisible(); }));
        markers.popover()->colorPopUp()->setCurrentIndex(4);
        QTest::mouseClick(markers.popover()->annotateButton(), Qt::LeftButton);
        ASSERT_TRUE(BVTest::waitFor([&] { return annotations.isAnnotationModeOn(); }));
        EXPECT_FALSE(markers.popover()->isVisible());
        ASSERT_NE(annotations.annotationBar(), nullptr);
        EXPECT_TRUE(annotations.annotationBar()->isVisible());
        BVAnnotationCanvas *canvas = annotations.canvas();
        drawStroke(canvas, {{20, 20}, {60, 30}, {100, 60}, {140, 100}});
        EXPECT_FALSE(canvas->drawing().isEmpty());

        QString asked;
        answerNextAlert(QStringLiteral("Cancel"), &asked);
        document->goToEnd();
        QTest::qWait(300);
        EXPECT_EQ(asked, QStringLiteral("Are you sure you wish to discard this annotation?"));
        EXPECT_TRUE(annotations.isAnnotationModeOn()) << "Cancel keeps the drawing";
        EXPECT_EQ(settledIndex(*document), 72) << "and the position";

        QTest::mouseClick(
            annotations.annotationBar()->findChild<QPushButton *>(QStringLiteral("saveAnnotation")),
            Qt::LeftButton);
        EXPECT_FALSE(annotations.isAnnotationModeOn());
        const BVMarker marker = markers.model().markers().at(0);
        EXPECT_TRUE(BVTest::waitFor([&] { return marker->contains(BVMarkerKey::annotation); }))
            << "the marker takes the drawing once it is written";
        uuid = marker->value(BVMarkerKey::annotation).toString();
        ASSERT_EQ(uuid.size(), 36);
        ASSERT_TRUE(BVAnnotationCache::readAnnotation(uuid, &svg));
        EXPECT_TRUE(svg.contains(QStringLiteral("stroke=\"#58ff55\""))) << svg.toStdString();
        EXPECT_EQ(canvas->svgSource(), svg) << "the drawing stays on the picture";
        document->goToEnd();
        EXPECT_GT(settledIndex(*document, 72), 200) << "nothing to discard: the seek goes";
        EXPECT_TRUE(canvas->svgSource().isEmpty()) << "and the drawing leaves with the playhead";
        document->close();
    }
    auto document = openWithMarkers(path);
    BVDocumentAnnotationController &annotations = annotationsOf(*document);
    ASSERT_TRUE(seekAndWait(*document, MediaTime(0, 24)));
    key(*document, Qt::Key_Down);
    EXPECT_EQ(settledIndex(*document, 0), 72);
    ASSERT_TRUE(BVTest::waitFor(
        [&] { return annotations.canvas() && !annotations.canvas()->svgSource().isEmpty(); }));
    EXPECT_EQ(annotations.canvas()->svgSource(), svg);
    EXPECT_TRUE(annotations.canvas()->isVisible());
    // A drawing still being read when the playhead leaves its marker stays off the picture.
    annotations.showAnnotationWithUUID(uuid);
    annotations.removeShownAnnotation();
    QTest::qWait(300);
    EXPECT_TRUE(annotations.canvas()->svgSource().isEmpty());
    document->close();
}

} // namespace
