// Start-up and opening: registered defaults, opening files and addresses through the document
// controller, the Open dialog when nothing was given, image files as one sequence with its order
// and frame rate, and the Recent Documents filter.
#include "app/BVAppController.h"
#include "app/BVDocumentController.h"
#include "app/BVImageSequenceFiles.h"
#include "export/BVActivityController.h"
#include "export/BVActivityWindow.h"
#include "export/BVDocumentExporter.h"
#include "platform/defaults/BVUserDefaults.h"
#include "player/document/BVDocument.h"
#include "player/media/BVImageSequence.h"
#include "player/window/BVDocumentWindowController.h"
#include "support/BVLocalPaths.h"
#include "support/BVLog.h"

#include "common/BVTestSupport.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QImage>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

class AppController : public ::testing::Test
{
protected:
    void TearDown() override
    {
        BVDocumentController::sharedDocumentController()->closeAllDocuments();
        BVTest::spin(std::chrono::milliseconds(50));
        BVUserDefaults::standardUserDefaults()->removeObjectForKey(QStringLiteral("startupAction"));
        BVDocumentController::sharedDocumentController()->clearRecentDocuments();
    }
    static QString logText()
    {
        BVLog::finishWriting();
        return QString::fromUtf8(BVTest::readFile(BVLog::sharedController()->currentLogPath()));
    }
};

QStringList names(const QStringList &paths)
{
    QStringList result;
    for (const QString &path : paths)
        result.append(QFileInfo(path).fileName());
    return result;
}

// A job the test ends by hand.
class ManualItem : public BVActivityItem
{
public:
    using BVActivityItem::BVActivityItem;
    void end(int status) { setStatus(status); }
};

// A cloud file as the document's cloud review would show it.
class CloudFile : public BVDocumentCloudReview
{
public:
    CloudFile(qlonglong id, QString title)
        : id(id)
        , title(std::move(title))
    { }
    qlonglong veloFileID() const override { return id; }
    QString fileTitle() const override { return title; }
    bool veloIsCached() const override { return cached; }
    void setVeloIsCached(bool on) override { cached = on; }

    qlonglong id;
    QString title;
    bool cached = false;
};

// Clicks the named button of the next alert that shows and notes its text; a timer that keeps
// looking until stopped.
QTimer *answerAlerts(const QString &button, QStringList *seen)
{
    auto *timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [button, seen] {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            auto *box = qobject_cast<QMessageBox *>(widget);
            if (!box || !box->isVisible())
                continue;
            for (QAbstractButton *candidate : box->buttons()) {
                if (candidate->text() == button) {
                    seen->append(box->text());
                    candidate->click();
                    return;
                }
            }
        }
    });
    timer->start(20);
    return timer;
}

} // namespace

TEST(ImageSequenceFiles, FilesPlayInTheOrderOfTheNumberInTheirNames)
{
    using BVImageSequenceFiles::sortedPaths;
    EXPECT_EQ(names(sortedPaths({"/s/frame_0100.png", "/s/frame_0009.png", "/s/frame_0010.png"})),
        (QStringList {"frame_0009.png", "frame_0010.png", "frame_0100.png"}));
    // A lone digit is no match: the names compare as paths, and "a_10" sorts before "a_9".
    EXPECT_EQ(names(sortedPaths({"/s/a_9.png", "/s/a_10.png"})), (QStringList {"a_10.png", "a_9.png"}));
    // "\w" takes underscores too: the match runs from the shot number to the end of the name.
    EXPECT_EQ(names(sortedPaths({"/s/sh020_v3_1001.jpg", "/s/sh010_v3_1002.jpg", "/s/sh030_v3_0999.jpg"})),
        (QStringList {"sh010_v3_1002.jpg", "sh020_v3_1001.jpg", "sh030_v3_0999.jpg"}));
    // Equal numbers (both give 2) play in path order rather than in the order they were chosen.
    EXPECT_EQ(names(sortedPaths({"/s/take2_0006.png", "/s/take2_0005.png", "/s/take2_0004.png"})),
        (QStringList {"take2_0004.png", "take2_0005.png", "take2_0006.png"}));
}

TEST(ImageSequenceFiles, TypedFrameRates)
{
    using BVImageSequenceFiles::frameRateForEntry;
    EXPECT_DOUBLE_EQ(frameRateForEntry("29.97"), 30000.0 / 1001.0);
    EXPECT_DOUBLE_EQ(frameRateForEntry("23.98"), 24000.0 / 1001.0);
    EXPECT_DOUBLE_EQ(frameRateForEntry("59.94"), 60000.0 / 1001.0);
    EXPECT_DOUBLE_EQ(frameRateForEntry("25"), 25);
    EXPECT_DOUBLE_EQ(frameRateForEntry("24"), 24);
    EXPECT_DOUBLE_EQ(frameRateForEntry("30"), 30);
    EXPECT_DOUBLE_EQ(frameRateForEntry("0"), 24);
    EXPECT_DOUBLE_EQ(frameRateForEntry("-5"), 24);
    EXPECT_DOUBLE_EQ(frameRateForEntry("fast"), 24);
    EXPECT_DOUBLE_EQ(frameRateForEntry(""), 24);
}

TEST_F(AppController, StartingRegistersTheDefaultsUnderTheStoredValues)
{
    BVUserDefaults *defaults = BVUserDefaults::standardUserDefaults();
    defaults->setInteger(0, QStringLiteral("autoplay"));
    BVAppController controller;
    EXPECT_EQ(defaults->integerForKey(QStringLiteral("autoplay")), 0) << "a stored value wins";
    EXPECT_EQ(defaults->integerForKey(QStringLiteral("savePlaybackPos")), 1);
    EXPECT_EQ(defaults->integerForKey(QStringLiteral("titleSafeH")), 10);
    EXPECT_EQ(defaults->integerForKey(QStringLiteral("actionSafeV")), 5);
    EXPECT_EQ(defaults->integerForKey(QStringLiteral("scrubAudio")), 1);
    EXPECT_EQ(defaults->objectForKey(QStringLiteral("imageSequenceFPS")), QVariant(QStringLiteral("24")));
    EXPECT_EQ(BVAppController::registeredDefaults().size(), 15);
    defaults->removeObjectForKey(QStringLiteral("autoplay"));
    EXPECT_EQ(defaults->integerForKey(QStringLiteral("autoplay")), 1);
}

TEST_F(AppController, DocumentTypesComeFromTheExtension)
{
    using C = BVDocumentController;
    EXPECT_EQ(C::typeForContentsOfURL(QUrl::fromLocalFile("/m/a.MOV")), QStringLiteral("QuickTime Movie"));
    EXPECT_EQ(C::typeForContentsOfURL(QUrl::fromLocalFile("/m/a.mp4")), QStringLiteral("QuickTime Movie"));
    EXPECT_EQ(C::typeForContentsOfURL(QUrl::fromLocalFile("/m/a.wav")), QStringLiteral("Audio File"));
    EXPECT_EQ(C::typeForContentsOfURL(QUrl::fromLocalFile("/m/a.aiff")), QStringLiteral("Audio File"));
    EXPECT_EQ(C::typeForContentsOfURL(QUrl("https://example.com/live")), QStringLiteral("QuickTime Movie"));
    EXPECT_EQ(C::typeForContentsOfURL(QUrl::fromLocalFile("/m/list.m3u8")), QString());
    EXPECT_EQ(C::typeForContentsOfURL(QUrl::fromLocalFile("/m/notes.txt")), QString());
}

TEST_F(AppController, FilesOfOtherExtensionsOpenByWhatFFmpegReadsInThem)
{
    using C = BVDocumentController;
    const QString folder = BVTest::makeTempFolder(QStringLiteral("types"));
    struct Case
    {
        const char *name;
        QStringList output;
        const char *type;
    };
    const QStringList picture {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
        QStringLiteral("testsrc2=size=160x90:rate=25")};
    const QStringList sound {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
        QStringLiteral("sine=frequency=440:sample_rate=48000")};
    const Case cases[] = {
        {"voice.opus", sound + QStringList {QStringLiteral("-c:a"), QStringLiteral("libopus")}, "Audio File"},
        {"voice.wma", sound + QStringList {QStringLiteral("-c:a"), QStringLiteral("wmav2")}, "Audio File"},
        {"dailies.mpg", picture + QStringList {QStringLiteral("-c:v"), QStringLiteral("mpeg2video")},
            "QuickTime Movie"},
        {"camera.m2ts",
            picture
                + QStringList {QStringLiteral("-c:v"), QStringLiteral("mpeg2video"), QStringLiteral("-f"),
                    QStringLiteral("mpegts")},
            "QuickTime Movie"},
        // A movie whose name says nothing.
        {"delivery.bin",
            picture
                + QStringList {QStringLiteral("-c:v"), QStringLiteral("mpeg4"), QStringLiteral("-f"),
                    QStringLiteral("mov")},
            "QuickTime Movie"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = folder + QLatin1Char('/') + QLatin1String(c.name);
        QProcess ffmpeg;
        ffmpeg.start(QStringLiteral("ffmpeg"),
            QStringList {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y")} + c.output
                + QStringList {QStringLiteral("-t"), QStringLiteral("1"), path});
        ASSERT_TRUE(ffmpeg.waitForFinished(60000));
        ASSERT_EQ(ffmpeg.exitCode(), 0) << ffmpeg.readAllStandardError().toStdString();
        EXPECT_EQ(C::typeForContentsOfURL(QUrl::fromLocalFile(path)), QString::fromLatin1(c.type));
    }
    // A name FFmpeg knows does not make a file of text a movie.
    const QString fake = folder + QStringLiteral("/fake.mpg");
    ASSERT_TRUE(BVTest::writeFile(fake, QByteArray("just some words, no pictures\n").repeated(50)));
    EXPECT_EQ(C::typeForContentsOfURL(QUrl::fromLocalFile(fake)), QString());
    EXPECT_TRUE(BVImageSequenceFiles::isImagePath(QStringLiteral("/plates/shot_0001.EXR")));

    // The sound file opens as a document that becomes ready, audio only.
    BVAppController controller;
    ASSERT_TRUE(controller.applicationOpenFile(folder + QStringLiteral("/voice.opus")));
    BVDocumentController *documents = BVDocumentController::sharedDocumentController();
    ASSERT_EQ(documents->documents().size(), 1);
    BVDocument *document = documents->documents().first();
    ASSERT_TRUE(BVTest::waitFor([&] { return document->isReady(); }));
    EXPECT_TRUE(document->mediaObject()->isAudioOnly());
    documents->closeAllDocuments();
    BVTest::waitFor([&] { return documents->documents().isEmpty(); });
}

TEST_F(AppController, OpeningAFileShowsItsDocumentAndNoOpenDialog)
{
    BVAppController controller;
    const QString movie = BVTest::sampleMedia(QStringLiteral("movie"), {QStringLiteral("--duration"), "2"});
    ASSERT_TRUE(controller.applicationOpenFile(movie));
    EXPECT_FALSE(controller.showOpenDialog());
    BVDocumentController *documents = BVDocumentController::sharedDocumentController();
    ASSERT_EQ(documents->documents().size(), 1);
    BVDocument *document = documents->documents().first();
    EXPECT_EQ(document->fileURL(), QUrl::fromLocalFile(movie));
    EXPECT_EQ(documents->currentDocument(), document);
    ASSERT_NE(BVDocumentWindowController::of(*document)->window(), nullptr);
    EXPECT_TRUE(BVDocumentWindowController::of(*document)->window()->isVisible());
    EXPECT_EQ(documents->recentDocumentURLs(), QList<QUrl> {QUrl::fromLocalFile(movie)});

    // Opening it again brings the same document forward.
    ASSERT_TRUE(controller.applicationOpenFile(movie));
    EXPECT_EQ(documents->documents().size(), 1);

    controller.applicationDidFinishLaunching();
    EXPECT_EQ(controller.openDialog(), nullptr);

    document->close();
    EXPECT_TRUE(BVTest::waitFor([documents] { return documents->documents().isEmpty(); }));
}

TEST_F(AppController, DocumentsExportIntoTheApplicationsActivityWindow)
{
    BVAppController controller;
    ASSERT_NE(controller.activityController(), nullptr);
    const QString movie = BVTest::sampleMedia(QStringLiteral("movie"), {QStringLiteral("--duration"), "2"});
    ASSERT_TRUE(controller.applicationOpenFile(movie));
    BVDocumentController *documents = BVDocumentController::sharedDocumentController();
    ASSERT_EQ(documents->documents().size(), 1);
    BVDocument *document = documents->documents().first();
    // The document's export feature queues in the application's one activity controller.
    EXPECT_NE(dynamic_cast<BVDocumentExporter *>(document->exporter()), nullptr);
    EXPECT_EQ(documents->activityController(), controller.activityController());
    // Window > Activity shows the window and hides it again; nothing runs, so quitting needs no question.
    QAction *activity = BVDocumentWindowController::of(*document)->menuBar()->findChild<QAction *>(
        QStringLiteral("toggleActivityWindow"));
    ASSERT_NE(activity, nullptr);
    activity->trigger();
    EXPECT_TRUE(controller.activityController()->window()->isVisible());
    activity->trigger();
    EXPECT_FALSE(controller.activityController()->window()->isVisible());
    EXPECT_NE(BVDocumentWindowController::of(*document)->menuBar()->findChild<QAction *>(
                  QStringLiteral("terminate")),
        nullptr);
    // The preference commands are in its menus too.
    EXPECT_NE(BVDocumentWindowController::of(*document)->menuBar()->findChild<QAction *>(
                  QStringLiteral("backupPrefs")),
        nullptr);
    EXPECT_TRUE(controller.applicationShouldTerminate());

    document->close();
    EXPECT_TRUE(BVTest::waitFor([documents] { return documents->documents().isEmpty(); }));
}

TEST_F(AppController, AFileThatCannotBeOpenedIsLoggedAndAnsweredFalse)
{
    BVAppController controller;
    EXPECT_FALSE(controller.applicationOpenFile(BVTest::makeTempFolder() + "/missing.mov"));
    EXPECT_FALSE(controller.applicationOpenFile(BVTest::makeTempFolder() + "/list.m3u"));
    EXPECT_TRUE(BVDocumentController::sharedDocumentController()->documents().isEmpty());
    EXPECT_TRUE(logText().contains(QStringLiteral("Error opening file: ")));
}

TEST_F(AppController, LaunchingWithNothingShowsTheOpenDialogUnlessTheStartupActionSaysOtherwise)
{
    {
        BVAppController controller;
        controller.applicationDidFinishLaunching();
        ASSERT_NE(controller.openDialog(), nullptr);
        EXPECT_TRUE(controller.openDialog()->isVisible());
        EXPECT_EQ(controller.openDialog()->fileMode(), QFileDialog::ExistingFiles);
        EXPECT_EQ(BVUserDefaults::standardUserDefaults()->integerForKey(QStringLiteral("gangMode")), 0);
    }
    BVUserDefaults::standardUserDefaults()->setInteger(1, QStringLiteral("startupAction"));
    BVAppController controller;
    controller.applicationDidFinishLaunching();
    EXPECT_EQ(controller.openDialog(), nullptr);
}

TEST_F(AppController, ImageFilesOpenAsOneSequenceInNumberOrderAndStayOutOfRecentDocuments)
{
    const QString folder = BVTest::makeTempFolder();
    QImage image(64, 36, QImage::Format_RGB32);
    QStringList files;
    for (int n : {100, 9, 10, 11, 12, 13}) {
        image.fill(QColor(n, 0, 0));
        const QString path = folder + QStringLiteral("/shot_%1.png").arg(n, 4, 10, QLatin1Char('0'));
        ASSERT_TRUE(image.save(path));
        files.append(path);
    }
    BVAppController controller;
    controller.openFiles(files, QStringLiteral("25"));
    BVDocumentController *documents = BVDocumentController::sharedDocumentController();
    ASSERT_EQ(documents->documents().size(), 1);
    auto *sequence = dynamic_cast<BVImageSequence *>(documents->documents().first()->mediaObject());
    ASSERT_NE(sequence, nullptr);
    EXPECT_DOUBLE_EQ(sequence->fps(), 25);
    EXPECT_EQ(names(sequence->files()).first(), QStringLiteral("shot_0009.png"));
    EXPECT_EQ(names(sequence->files()).last(), QStringLiteral("shot_0100.png"));
    EXPECT_TRUE(documents->recentDocumentURLs().isEmpty());
}

TEST_F(AppController, RecentDocumentsLeaveOutStillsAndCachedCloudFiles)
{
    BVDocumentController *documents = BVDocumentController::sharedDocumentController();
    const QString cache = BVLocalPaths::cacheDirectory(true) + QStringLiteral("/Reelmark/File Cache/12.mov");
    for (const char *path : {"/m/a.png", "/m/b.JPG", "/m/c.tiff", "/m/d.bmp", "/m/e.jpeg"})
        documents->noteNewRecentDocumentURL(QUrl::fromLocalFile(path));
    documents->noteNewRecentDocumentURL(QUrl::fromLocalFile(cache));
    EXPECT_TRUE(documents->recentDocumentURLs().isEmpty());

    documents->noteNewRecentDocumentURL(QUrl::fromLocalFile("/m/one.mov"));
    documents->noteNewRecentDocumentURL(QUrl::fromLocalFile("/m/two.wav"));
    documents->noteNewRecentDocumentURL(QUrl::fromLocalFile("/m/one.mov"));
    EXPECT_EQ(documents->recentDocumentURLs(),
        (QList<QUrl> {QUrl::fromLocalFile("/m/one.mov"), QUrl::fromLocalFile("/m/two.wav")}));
    for (int i = 0; i < 20; ++i)
        documents->noteNewRecentDocumentURL(QUrl::fromLocalFile(QStringLiteral("/m/%1.mov").arg(i)));
    EXPECT_EQ(documents->recentDocumentURLs().size(), BVDocumentController::maximumRecentDocumentCount);
    EXPECT_EQ(documents->recentDocumentURLs().first(), QUrl::fromLocalFile("/m/19.mov"));
}

TEST_F(AppController, QuittingAsksWhileAJobStillWorksAndCancelsThemAll)
{
    BVAppController controller;
    BVActivityController *activity = controller.activityController();
    auto running = std::make_shared<ManualItem>(QStringLiteral("Download: a.mov"));
    auto queued = std::make_shared<ManualItem>(QStringLiteral("Download: b.mov"));
    activity->addItem(running);
    activity->addItem(queued);
    activity->window()->hide();

    QStringList seen;
    std::unique_ptr<QTimer> answer(answerAlerts(QStringLiteral("Cancel"), &seen));
    EXPECT_FALSE(controller.applicationShouldTerminate());
    EXPECT_EQ(
        seen, QStringList {QStringLiteral("Tasks are still processing. Are you sure you wish to quit?")});
    EXPECT_TRUE(activity->window()->isVisible()); // the jobs are shown with the question
    EXPECT_FALSE(running->isCancelled());
    EXPECT_EQ(running->status(), BVActivityItem::Running);

    // The next job runs now: still a question. Quit cancels it.
    running->end(BVActivityItem::Finished);
    seen.clear();
    answer.reset(answerAlerts(QStringLiteral("Quit"), &seen));
    EXPECT_TRUE(controller.applicationShouldTerminate());
    EXPECT_EQ(seen.size(), 1);
    EXPECT_TRUE(queued->isCancelled());
    EXPECT_FALSE(running->isCancelled());

    // Nothing works any more: no question.
    seen.clear();
    EXPECT_TRUE(controller.applicationShouldTerminate());
    BVTest::spin(std::chrono::milliseconds(100));
    EXPECT_TRUE(seen.isEmpty());
}

TEST_F(AppController, ACachedCloudFileReplacesTheStreamInItsDocumentsOnly)
{
    BVAppController controller;
    BVDocumentController *documents = BVDocumentController::sharedDocumentController();
    const QString stream = BVTest::sampleMedia(QStringLiteral("movie"), {QStringLiteral("--duration"), "4"});
    const QString other = BVTest::sampleMedia(QStringLiteral("movie"), {QStringLiteral("--duration"), "2"});
    ASSERT_TRUE(controller.applicationOpenFile(stream));
    ASSERT_TRUE(controller.applicationOpenFile(other));
    ASSERT_EQ(documents->documents().size(), 2);
    BVDocument *cloud = documents->documents().at(0);
    BVDocument *unrelated = documents->documents().at(1);
    auto review = std::make_unique<CloudFile>(12, QStringLiteral("Reel 12"));
    CloudFile *file = review.get();
    cloud->setCloudReview(std::move(review));
    unrelated->setCloudReview(std::make_unique<CloudFile>(13, QStringLiteral("Reel 13")));
    ASSERT_TRUE(BVTest::waitFor([&] { return cloud->isReady() && unrelated->isReady(); }));
    cloud->forward1Second();
    ASSERT_TRUE(BVTest::waitFor([&] { return cloud->currentTime().seconds() >= 0.99; }));
    const double before = cloud->currentTime().seconds();

    // The copy in the file cache (here: a second file of the same length) becomes the media.
    const QString copy = BVTest::makeTempFolder() + QStringLiteral("/12.mov");
    ASSERT_TRUE(QFile::copy(stream, copy));
    controller.activityController()->activityFileCached(12, copy);
    EXPECT_TRUE(file->cached);
    EXPECT_EQ(cloud->fileURL(), QUrl::fromLocalFile(copy));
    EXPECT_EQ(unrelated->fileURL(), QUrl::fromLocalFile(other));
    ASSERT_TRUE(BVTest::waitFor([&] { return cloud->isReady(); }));
    ASSERT_TRUE(BVTest::waitFor([&] { return std::abs(cloud->currentTime().seconds() - before) < 0.05; }))
        << cloud->currentTime().seconds() << " instead of " << before;
    EXPECT_EQ(
        BVDocumentWindowController::of(*cloud)->window()->windowTitle(), QStringLiteral("Reel 12 (cached)"));
    EXPECT_FALSE(BVDocumentWindowController::of(*unrelated)
                     ->window()
                     ->windowTitle()
                     .contains(QStringLiteral("cached")));
    EXPECT_TRUE(
        BVTest::waitFor([] { return logText().contains(QStringLiteral("Cache complete - Reel 12")); }));
    EXPECT_FALSE(logText().contains(QStringLiteral("Cache complete - Reel 13")));
}
