// A movie cut short (a render still being written, a partial copy: the index first, the picture
// data cut off): the position stops on the last whole frame and names it, the timeline shows how
// much plays, and the user is told once. The clips carry their frame index in their pixels; the
// frame expected last is worked out from the packet list ffprobe gives for the cut file.
#include "DocumentTestSupport.h"

#include "platform/media/engine/MediaPlayer.h"
#include "player/document/BVTransportEvent.h"

#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QSignalSpy>

#include <algorithm>
#include <optional>
#include <set>

using namespace DocumentTest;

namespace {

// The standard output of a tool; none when it fails.
std::optional<QString> run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(process.readAllStandardOutput());
}

// The texts of the alerts shown meanwhile; closes them.
QStringList takeAlerts(std::chrono::milliseconds wait)
{
    QStringList texts;
    BVTest::waitFor(
        [&] {
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                auto *box = qobject_cast<QMessageBox *>(widget);
                if (box && box->isVisible()) {
                    texts.append(box->text() + QLatin1Char('\n') + box->informativeText());
                    box->close();
                }
            }
            return false;
        },
        wait);
    return texts;
}

struct Cut
{
    QString path;
    int64_t lastFrame = -1; // the last frame whose picture is whole, in display order
};

// Copies the clip with its index first into the container, then cuts it in the middle of the
// picture data at about `share` of the packets.
Cut cutClip(const QString &source, const QString &extension, double share)
{
    Cut cut;
    const QString folder = BVTest::makeTempFolder();
    const QString complete = folder + QStringLiteral("/whole.") + extension;
    if (!run(QStringLiteral("ffmpeg"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-i"),
                source, QStringLiteral("-map"), QStringLiteral("0:v"), QStringLiteral("-c"),
                QStringLiteral("copy"), QStringLiteral("-movflags"), QStringLiteral("+faststart"), complete}))
        return cut;
    // Video packets in decoding order: the frame each shows (24 fps) and its bytes.
    const QString listing = run(QStringLiteral("ffprobe"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
            QStringLiteral("v:0"), QStringLiteral("-show_entries"),
            QStringLiteral("packet=pts_time,size,pos"), QStringLiteral("-of"),
            QStringLiteral("compact=p=0:nk=0"), complete})
                                .value_or(QString());
    struct Packet
    {
        int64_t frame = 0, pos = 0, size = 0;
    };
    std::vector<Packet> packets;
    for (const QString &line : listing.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        Packet packet;
        for (const QString &field : line.split(QLatin1Char('|'))) {
            const QString value = field.section(QLatin1Char('='), 1);
            if (field.startsWith(QLatin1String("pts_time=")))
                packet.frame = std::llround(value.toDouble() * 24);
            else if (field.startsWith(QLatin1String("size=")))
                packet.size = value.toLongLong();
            else if (field.startsWith(QLatin1String("pos=")))
                packet.pos = value.toLongLong();
        }
        packets.push_back(packet);
    }
    if (packets.size() < 10)
        return cut;
    const Packet &middle = packets[size_t(double(packets.size()) * share)];
    const qsizetype length = qsizetype(middle.pos + middle.size / 2);
    // Whole pictures: those whose bytes all lie before the cut; the last one shown ends the run of
    // consecutive frames from the first.
    std::set<int64_t> whole;
    for (const Packet &p : packets)
        if (p.pos + p.size <= length)
            whole.insert(p.frame);
    while (whole.count(cut.lastFrame + 1))
        ++cut.lastFrame;
    const QByteArray bytes = BVTest::readFile(complete);
    cut.path = folder + QStringLiteral("/cut.") + extension;
    if (bytes.size() <= length || !BVTest::writeFile(cut.path, bytes.left(length)))
        cut.path.clear();
    return cut;
}

// The label of a frame of a 24 fps clip starting at 01:00:00:00, counted by hand.
QString label(int64_t frame)
{
    return QString::asprintf("01:%02lld:%02lld:%02lld", (long long)(frame / 24 / 60),
        (long long)(frame / 24 % 60), (long long)(frame % 24));
}

} // namespace

TEST(TruncatedMovie, StopsOnTheLastWholeFrameShowsHowMuchPlaysAndSaysSoOnce)
{
    resetSettings();
    // 10 s at 24 fps, 24-frame GOPs with B-frames, a timecode track at 01:00:00:00.
    const QString clip = BVTest::sampleMedia(QStringLiteral("barcode"),
        {QStringLiteral("--rate"), QStringLiteral("24"), QStringLiteral("--frames"), QStringLiteral("240"),
            QStringLiteral("--tc"), QStringLiteral("01:00:00:00"), QStringLiteral("--name"),
            QStringLiteral("truncation-source.mov")});
    ASSERT_FALSE(clip.isEmpty());
    // Cut at a keyframe's packet (a 24-frame GOP starts at 96), and inside a GOP.
    for (const auto &[extension, share] :
        {std::pair {QStringLiteral("mov"), 0.4}, std::pair {QStringLiteral("mp4"), 0.45}}) {
        SCOPED_TRACE(extension.toStdString());
        const Cut cut = cutClip(clip, extension, share);
        ASSERT_FALSE(cut.path.isEmpty());
        ASSERT_GT(cut.lastFrame, 48);
        ASSERT_LT(cut.lastFrame, 120);

        BVDocument document;
        QSignalSpy extent(&document, &BVDocument::playableExtentChanged);
        // The document has no window: it tells what the user must hear, and opens no dialog.
        QStringList told;
        QObject::connect(&document, &BVDocument::alertRequested, [&](const BVDocumentAlert &alert) {
            told.append(alert.messageText + QLatin1Char('\n') + alert.informativeText);
        });
        QList<BVTransportEvent::Kind> events;
        QObject::connect(&document, &BVDocument::transportPerformed,
            [&](const BVTransportEvent &event) { events.append(event.kind); });
        ASSERT_TRUE(document.readFromURL(QUrl::fromLocalFile(cut.path), BVDocument::movieType()));
        ASSERT_TRUE(BVTest::waitFor([&] {
            auto *asset = dynamic_cast<BVAVAsset *>(document.mediaObject());
            return document.isReady() && asset && asset->isReadyToPlay() && !extent.isEmpty();
        }));
        BVMediaObject &media = *document.mediaObject();
        // The header's claim stays the duration; the timeline is told the part that plays.
        EXPECT_EQ(media.frameCount(), 240u);
        EXPECT_NEAR(extent.last().at(0).toDouble(), double(cut.lastFrame + 1) / 240, 0.5 / 240);
        ASSERT_TRUE(BVTest::waitFor([&] { return !told.isEmpty(); }));
        EXPECT_TRUE(takeAlerts(std::chrono::milliseconds(300)).isEmpty()) << "a dialog without a window";
        ASSERT_EQ(told.size(), 1);
        EXPECT_TRUE(told.first().contains(QStringLiteral("ends early"))) << told.first().toStdString();
        EXPECT_TRUE(told.first().contains(label(cut.lastFrame))) << told.first().toStdString();

        // Playing on from a second before the end stops on the last whole frame, and every display
        // names it.
        ASSERT_TRUE(seekAndWait(document, media.timeOfFrame(cut.lastFrame - 24)));
        document.play();
        ASSERT_TRUE(BVTest::waitFor([&] { return !media.isPlaying(); }, std::chrono::milliseconds(6000)));
        BVTest::waitFor(
            [&] { return shownIndex(document) == cut.lastFrame; }, std::chrono::milliseconds(2000));
        EXPECT_EQ(shownIndex(document), cut.lastFrame) << "picture";
        EXPECT_EQ(int64_t(media.currentFrame()), cut.lastFrame);
        EXPECT_EQ(document.updateTimecode(), label(cut.lastFrame));
        EXPECT_TRUE(BVTest::waitFor([&] { return events.contains(BVTransportEvent::EndOfMedia); }));
        BVTest::spin(std::chrono::milliseconds(300));
        EXPECT_EQ(document.updateTimecode(), label(cut.lastFrame)) << "the timecode ran on";

        // End, a seek past the cut and a step forward there land on it too.
        document.goToStart();
        BVTest::waitFor([&] { return shownIndex(document) == 0; }, std::chrono::milliseconds(2000));
        document.goToEnd();
        BVTest::waitFor(
            [&] { return shownIndex(document) == cut.lastFrame; }, std::chrono::milliseconds(3000));
        EXPECT_EQ(shownIndex(document), cut.lastFrame) << "End";
        EXPECT_EQ(document.updateTimecode(), label(cut.lastFrame));
        ASSERT_TRUE(seekAndWait(document, media.timeOfFrame(200)));
        EXPECT_EQ(document.updateTimecode(), label(cut.lastFrame));
        document.stepRight();
        BVTest::spin(std::chrono::milliseconds(300));
        EXPECT_EQ(shownIndex(document), cut.lastFrame) << "step";
        EXPECT_EQ(document.updateTimecode(), label(cut.lastFrame));
        // Told once.
        EXPECT_EQ(told.size(), 1);
        document.cleanup();
    }
}
