// The asset layer: loading keys in the background, tracks and their format descriptions (the
// timecode track's flags and frame quanta), the real frames of variable-rate footage, chapters,
// metadata, and the track reader.
#include "platform/media/MediaAsset.h"
#include "platform/media/MediaAssetReader.h"
#include "platform/media/MediaFrameIndex.h"
#include "support/BVMainThread.h"

#include "common/BVTestSupport.h"

#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

const QStringList shortClip {QStringLiteral("--duration"), QStringLiteral("3")};

std::shared_ptr<MediaAsset> loadedAsset(const QString &path)
{
    auto asset = MediaAsset::assetWithURL(QUrl::fromLocalFile(path));
    bool done = false;
    asset->loadValuesAsynchronously({QStringLiteral("tracks")}, [&done] { done = true; });
    EXPECT_TRUE(BVTest::waitFor([&] { return done; }));
    return asset;
}

QList<QString> mediaTypes(const QList<MediaTrack> &tracks)
{
    QList<QString> types;
    for (const MediaTrack &track : tracks)
        types.append(track.mediaType());
    return types;
}

// 40 frames on a 30 fps clock at the given presentation times (an expression of the frame number
// N, in frames of 1/30 s), in a movie of 90 kHz ticks.
QString clipWithTimes(const QString &name, const QString &frameExpression)
{
    const QString path = BVTest::makeTempFolder(QStringLiteral("rates")) + QLatin1Char('/') + name;
    BVTest::runTool(QStringLiteral("ffmpeg"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-f"),
            QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("testsrc2=size=64x32:rate=30"),
            QStringLiteral("-vf"), QStringLiteral("setpts='(%1)/30/TB'").arg(frameExpression),
            QStringLiteral("-frames:v"), QStringLiteral("40"), QStringLiteral("-fps_mode"),
            QStringLiteral("passthrough"), QStringLiteral("-c:v"), QStringLiteral("libx264"),
            QStringLiteral("-preset"), QStringLiteral("ultrafast"), QStringLiteral("-bf"),
            QStringLiteral("2"), QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p"),
            QStringLiteral("-video_track_timescale"), QStringLiteral("90000"), path});
    return path;
}

// The presentation times ffprobe reads from the first video stream's packets, sorted, counted from
// the stream's start.
std::vector<double> packetTimes(const QString &path)
{
    const QJsonObject probe = QJsonDocument::fromJson(
        BVTest::runTool(QStringLiteral("ffprobe"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
                QStringLiteral("v:0"), QStringLiteral("-show_entries"),
                QStringLiteral("packet=pts_time:stream=start_time"), QStringLiteral("-of"),
                QStringLiteral("json"), path}))
                                  .object();
    const double start = probe.value(QStringLiteral("streams"))
                             .toArray()
                             .at(0)
                             .toObject()
                             .value(QStringLiteral("start_time"))
                             .toString()
                             .toDouble();
    std::vector<double> times;
    for (const QJsonValue &packet : probe.value(QStringLiteral("packets")).toArray())
        times.push_back(packet.toObject().value(QStringLiteral("pts_time")).toString().toDouble() - start);
    std::sort(times.begin(), times.end());
    return times;
}

} // namespace

TEST(MediaAsset, LoadsKeysInTheBackgroundAndCompletesOnTheMainThread)
{
    const QString path = BVTest::sampleMedia(QStringLiteral("df2997"), shortClip);
    ASSERT_FALSE(path.isEmpty());
    auto asset = MediaAsset::assetWithURL(QUrl::fromLocalFile(path));
    EXPECT_EQ(asset->statusOfValue(QStringLiteral("tracks")), MediaAsset::KeyStatus::Unknown);
    bool onMain = false;
    bool done = false;
    asset->loadValuesAsynchronously({QStringLiteral("tracks"), QStringLiteral("playable")}, [&] {
        onMain = BVMainThread::isMainThread();
        done = true;
    });
    ASSERT_TRUE(BVTest::waitFor([&] { return done; }));
    EXPECT_TRUE(onMain);
    EXPECT_EQ(asset->statusOfValue(QStringLiteral("tracks")), MediaAsset::KeyStatus::Loaded);
    EXPECT_EQ(asset->statusOfValue(QStringLiteral("playable")), MediaAsset::KeyStatus::Loaded);
    BVError error;
    EXPECT_EQ(asset->statusOfValue(QStringLiteral("noSuchKey"), &error), MediaAsset::KeyStatus::Failed);
    EXPECT_FALSE(error.isNull());
    EXPECT_TRUE(asset->isPlayable());
    EXPECT_TRUE(asset->isReadable());
}

TEST(MediaAsset, ChapterTextStreamIsNotATrackAndTimecodeTrackCarriesItsFormat)
{
    auto asset = loadedAsset(BVTest::sampleMedia(QStringLiteral("df2997"), shortClip));
    const QList<MediaTrack> tracks = asset->tracks();
    EXPECT_EQ(mediaTypes(tracks), (QList<QString> {MediaType::video, MediaType::audio, MediaType::timecode}));

    const MediaTrack video = asset->tracksWithMediaType(MediaType::video).value(0);
    EXPECT_EQ(video.naturalSize(), QSizeF(1280, 720));
    EXPECT_NEAR(video.nominalFrameRate(), 29.97, 0.001);
    ASSERT_EQ(video.formatDescriptions().size(), 1);
    EXPECT_EQ(video.formatDescriptions().first().mediaSubType(), MediaFormatDescription::fourCC("avc1"));
    EXPECT_EQ(video.formatDescriptions().first().formatName(), QStringLiteral("H.264"));

    const MediaTrack audio = asset->tracksWithMediaType(MediaType::audio).value(0);
    const auto asbd = audio.formatDescriptions().value(0).audioStreamBasicDescription();
    ASSERT_TRUE(asbd.has_value());
    EXPECT_EQ(asbd->formatID, MediaFormatDescription::fourCC("aac "));
    EXPECT_EQ(asbd->channelsPerFrame, 2u);
    EXPECT_EQ(asbd->sampleRate, 48000);
    EXPECT_EQ(asbd->bitsPerChannel, 0u);

    const MediaFormatDescription timecode
        = asset->tracksWithMediaType(MediaType::timecode).value(0).formatDescriptions().value(0);
    EXPECT_EQ(timecode.mediaType(), MediaFormatDescription::fourCC("tmcd"));
    EXPECT_EQ(timecode.timecodeFlags() & MediaFormatDescription::TimecodeFlagDropFrame, 1u);
    EXPECT_EQ(timecode.frameQuanta(), 30u);
}

TEST(MediaAsset, FormatDescriptionsOfLinearPCMAndNonDropTimecode)
{
    struct Case
    {
        const char *variant;
        uint32_t bits;
    };
    for (const Case &c : {Case {"bwav16", 16}, Case {"bwav24", 24}}) {
        SCOPED_TRACE(c.variant);
        auto asset = loadedAsset(BVTest::sampleMedia(QString::fromLatin1(c.variant)));
        const QList<MediaTrack> audio = asset->tracksWithMediaType(MediaType::audio);
        ASSERT_EQ(audio.size(), 1);
        const auto asbd = audio.first().formatDescriptions().value(0).audioStreamBasicDescription();
        ASSERT_TRUE(asbd.has_value());
        EXPECT_EQ(MediaFormatDescription::fourCCString(asbd->formatID), QStringLiteral("lpcm"));
        EXPECT_EQ(asbd->bitsPerChannel, c.bits);
        EXPECT_TRUE(asset->tracksWithMediaType(MediaType::video).isEmpty());
    }
    auto fps25 = loadedAsset(BVTest::sampleMedia(QStringLiteral("fps25"), shortClip));
    const MediaFormatDescription tc
        = fps25->tracksWithMediaType(MediaType::timecode).value(0).formatDescriptions().value(0);
    EXPECT_EQ(tc.timecodeFlags() & MediaFormatDescription::TimecodeFlagDropFrame, 0u);
    EXPECT_EQ(tc.frameQuanta(), 25u);
}

TEST(MediaAsset, ChaptersAndCommonMetadata)
{
    auto asset = loadedAsset(BVTest::sampleMedia(QStringLiteral("df2997"), shortClip));
    EXPECT_EQ(asset->availableChapterLocales(), QStringList {QStringLiteral("eng")});
    const QList<MediaTimedMetadataGroup> chapters
        = asset->chapterMetadataGroups(QStringLiteral("eng"), {QStringLiteral("title")});
    ASSERT_EQ(chapters.size(), 3);
    const double starts[] = {0, 1.0, 2.0};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(chapters[i].title(), QStringLiteral("Chapter %1").arg(i + 1));
        ASSERT_EQ(chapters[i].items().size(), 1);
        EXPECT_NEAR(chapters[i].items().first().time().seconds(), starts[i], 0.001);
    }
    EXPECT_TRUE(asset->chapterMetadataGroups(QStringLiteral("fra"), {QStringLiteral("title")}).isEmpty());

    bool foundTitle = false;
    for (const MediaMetadataItem &item : asset->commonMetadata()) {
        EXPECT_FALSE(item.commonKey().isEmpty());
        if (item.commonKey() == QLatin1String("title")) {
            EXPECT_EQ(item.stringValue(), QStringLiteral("Reelmark Sample"));
            foundTitle = true;
        }
    }
    EXPECT_TRUE(foundTitle);
    // Container tags without a common key stay out of the common metadata.
    EXPECT_GT(asset->metadata().size(), asset->commonMetadata().size());
    EXPECT_NEAR(asset->duration().seconds(), 3.0, 0.1);
    EXPECT_TRUE(asset->creationDate().isValid());
    EXPECT_TRUE(asset->isExportable());

    auto wav = loadedAsset(BVTest::sampleMedia(QStringLiteral("wav")));
    EXPECT_TRUE(wav->availableChapterLocales().isEmpty());
}

TEST(MediaAsset, MissingOrUnreadableFileFailsItsKeysWithAReason)
{
    const QString folder = BVTest::makeTempFolder();
    const QString garbage = folder + QStringLiteral("/notmedia.mov");
    ASSERT_TRUE(BVTest::writeFile(garbage, QByteArray(4096, 'x')));
    for (const QString &path : QStringList {folder + QStringLiteral("/missing.mov"), garbage}) {
        SCOPED_TRACE(path.toStdString());
        auto asset = MediaAsset::assetWithURL(QUrl::fromLocalFile(path));
        bool done = false;
        asset->loadValuesAsynchronously({QStringLiteral("tracks")}, [&] { done = true; });
        ASSERT_TRUE(BVTest::waitFor([&] { return done; }));
        BVError error;
        EXPECT_EQ(asset->statusOfValue(QStringLiteral("tracks"), &error), MediaAsset::KeyStatus::Failed);
        EXPECT_FALSE(error.localizedDescription().isEmpty());
        EXPECT_FALSE(error.localizedFailureReason().isEmpty());
        EXPECT_FALSE(asset->isReadable());
        EXPECT_TRUE(asset->tracks().isEmpty());
    }
}

TEST(MediaAsset, CancelledLoadNeverCompletes)
{
    auto asset = MediaAsset::assetWithURL(QUrl::fromLocalFile(BVTest::sampleMedia(QStringLiteral("wav"))));
    bool called = false;
    asset->loadValuesAsynchronously({QStringLiteral("tracks")}, [&] { called = true; });
    asset->cancelLoading();
    BVTest::spin(std::chrono::milliseconds(300));
    EXPECT_FALSE(called);
}

TEST(MediaAsset, OpensAnHttpAddressTheSameWay)
{
    const QByteArray body = BVTest::readFile(BVTest::sampleMedia(QStringLiteral("wav")));
    ASSERT_FALSE(body.isEmpty());
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        while (QTcpSocket *socket = server.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, &body] {
                if (!socket->readAll().contains("\r\n\r\n"))
                    return;
                socket->write("HTTP/1.1 200 OK\r\nContent-Type: audio/wav\r\nContent-Length: "
                    + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n");
                socket->write(body);
                socket->disconnectFromHost();
            });
        }
    });
    auto asset = MediaAsset::assetWithURL(
        QUrl(QStringLiteral("http://127.0.0.1:%1/tone.wav").arg(server.serverPort())));
    bool done = false;
    asset->loadValuesAsynchronously({QStringLiteral("tracks")}, [&] { done = true; });
    ASSERT_TRUE(BVTest::waitFor([&] { return done; }, std::chrono::seconds(20)));
    EXPECT_EQ(asset->statusOfValue(QStringLiteral("tracks")), MediaAsset::KeyStatus::Loaded);
    EXPECT_EQ(asset->tracksWithMediaType(MediaType::audio).size(), 1);
    EXPECT_FALSE(asset->isLocal());
}

TEST(MediaAssetReader, PassthroughGivesTheTimecodeSampleAndPCMDecodeGivesEveryFrame)
{
    auto movie = loadedAsset(BVTest::sampleMedia(QStringLiteral("df2997"), shortClip));
    MediaAssetReader tcReader(movie, movie->tracksWithMediaType(MediaType::timecode).value(0),
        MediaAssetReader::Output::Passthrough);
    ASSERT_TRUE(tcReader.startReading());
    std::optional<MediaSampleBuffer> sample = tcReader.copyNextSampleBuffer();
    ASSERT_TRUE(sample.has_value());
    ASSERT_GE(sample->data().size(), 4);
    const auto *b = reinterpret_cast<const uint8_t *>(sample->data().constData());
    EXPECT_EQ(uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3], 107892u);

    auto wav = loadedAsset(BVTest::sampleMedia(QStringLiteral("wav")));
    MediaAssetReader pcm(
        wav, wav->tracksWithMediaType(MediaType::audio).value(0), MediaAssetReader::Output::LinearPCM16);
    ASSERT_TRUE(pcm.startReading());
    int64_t frames = 0;
    QByteArray first;
    while (std::optional<MediaSampleBuffer> buffer = pcm.copyNextSampleBuffer()) {
        EXPECT_EQ(buffer->data().size(), buffer->sampleCount() * 4);
        if (first.isEmpty())
            first = buffer->data();
        frames += buffer->sampleCount();
    }
    EXPECT_EQ(pcm.status(), MediaAssetReader::Status::Completed);
    EXPECT_EQ(pcm.channelCount(), 2);
    EXPECT_EQ(pcm.sampleRate(), 48000);
    EXPECT_EQ(frames, 5 * 48000);
    // The decoded bytes are the file's own samples.
    const QByteArray file = BVTest::readFile(BVTest::sampleMedia(QStringLiteral("wav")));
    const qsizetype data = file.indexOf("data") + 8;
    EXPECT_EQ(first, file.mid(data, first.size()));
}

TEST(MediaAssetReader, CancelledReadStopsWithCancelledStatus)
{
    auto wav = loadedAsset(BVTest::sampleMedia(QStringLiteral("wav")));
    MediaAssetReader pcm(
        wav, wav->tracksWithMediaType(MediaType::audio).value(0), MediaAssetReader::Output::LinearPCM16);
    ASSERT_TRUE(pcm.startReading());
    ASSERT_TRUE(pcm.copyNextSampleBuffer().has_value());
    pcm.cancelReading();
    EXPECT_FALSE(pcm.copyNextSampleBuffer().has_value());
    EXPECT_EQ(pcm.status(), MediaAssetReader::Status::Cancelled);

    MediaAssetReader video(wav, MediaTrack(), MediaAssetReader::Output::LinearPCM16);
    EXPECT_FALSE(video.startReading());
    EXPECT_EQ(video.status(), MediaAssetReader::Status::Failed);
}

TEST(MediaAsset, VariableRateFootageCarriesItsRealFramesAndItsNominalRate)
{
    // Every fourth frame held for three frames of the 30 fps clock.
    const QString path = clipWithTimes(QStringLiteral("held.mov"), QStringLiteral("N+2*floor(N/4)"));
    const std::vector<double> expected = packetTimes(path);
    ASSERT_EQ(expected.size(), size_t(40));
    auto asset = loadedAsset(path);
    const QList<MediaTrack> video = asset->tracksWithMediaType(MediaType::video);
    ASSERT_EQ(video.size(), 1);
    const std::shared_ptr<const MediaFrameIndex> index = video.first().frameIndex();
    ASSERT_NE(index, nullptr);
    ASSERT_EQ(index->count(), 40);
    for (int64_t k = 0; k < 40; ++k) {
        EXPECT_NEAR(index->timeOfFrame(k).seconds(), expected[size_t(k)], 1e-6) << "frame " << k;
        EXPECT_EQ(index->frameAtTime(MediaTime::fromSeconds(expected[size_t(k)], 90000)), k);
    }
    // 30 fps is what its clock says and a standard rate: timecode counts in it.
    EXPECT_EQ(video.first().frameRateNumerator(), 30);
    EXPECT_EQ(video.first().frameRateDenominator(), 1);
    EXPECT_NEAR(video.first().averageFrameRate(), 40 / asset->duration().seconds(), 1e-6);
    EXPECT_NEAR(index->duration().seconds(), asset->duration().seconds(), 1e-6);

    // Frames at an even 30 fps need no index.
    auto constant = loadedAsset(clipWithTimes(QStringLiteral("even.mov"), QStringLiteral("N")));
    ASSERT_EQ(constant->tracksWithMediaType(MediaType::video).size(), 1);
    EXPECT_EQ(constant->tracksWithMediaType(MediaType::video).first().frameIndex(), nullptr);
}

TEST(MediaFrameIndex, NamesTheFrameWhoseIntervalHoldsATime)
{
    // Frames at 0, 3, 4 and 10 ticks of 1/10 s, ending at 12.
    const MediaFrameIndex index({0, 3, 4, 10}, 12, 1, 10);
    EXPECT_EQ(index.count(), 4);
    EXPECT_EQ(index.duration(), MediaTime(12, 10));
    EXPECT_EQ(index.timeOfFrame(2), MediaTime(4, 10));
    EXPECT_EQ(index.timeOfFrame(4), MediaTime(12, 10)); // the end
    EXPECT_EQ(index.timeOfFrame(5), MediaTime(14, 10)); // on at the last frame's length
    EXPECT_EQ(index.frameAtTime(MediaTime(0, 1)), 0);
    EXPECT_EQ(index.frameAtTime(MediaTime(299, 1000)), 0);
    EXPECT_EQ(index.frameAtTime(MediaTime(3, 10)), 1);
    // Less than a thousandth of a frame short of a start names that frame; more does not.
    // (frame 3 starts at 1 s after a frame of 0.6 s)
    EXPECT_EQ(index.frameAtTime(MediaTime(9995, 10000)), 3);
    EXPECT_EQ(index.frameAtTime(MediaTime(9993, 10000)), 2);
    EXPECT_EQ(index.frameAtTime(MediaTime(11, 10)), 3);
    EXPECT_EQ(index.frameAtTime(MediaTime(12, 10)), 4);
    EXPECT_EQ(index.frameAtTime(MediaTime(-1, 10)), -1);
    // The constant rule of 10 fps would put frame 1 at 0.1 s, inside real frame 0.
    EXPECT_FALSE(index.followsRate(MediaFrameRate(10, 1)));
    EXPECT_TRUE(MediaFrameIndex({0, 1, 2, 3}, 4, 1, 10).followsRate(MediaFrameRate(10, 1)));
    // Ticks of 1/1000 s rounded down at 29.97 still follow it; at 20 fps there would be a frame less.
    const MediaFrameIndex milliseconds({0, 33, 66, 100}, 133, 1, 1000);
    EXPECT_TRUE(milliseconds.followsRate(MediaFrameRate(30000, 1001)));
    EXPECT_FALSE(milliseconds.followsRate(MediaFrameRate(20, 1)));
    // A start rounded up past the constant rule's start of its frame does not.
    EXPECT_FALSE(MediaFrameIndex({0, 33, 67, 100}, 133, 1, 1000).followsRate(MediaFrameRate(30000, 1001)));
}

TEST(MediaFrameIndex, NominalRateIsTheStreamsStandardRateOrTheNextOneAboveTheAverage)
{
    EXPECT_EQ(MediaFrameIndex::nominalRate(30, 21.4), MediaFrameRate(30, 1));
    EXPECT_EQ(MediaFrameIndex::nominalRate(30000.0 / 1001, 29.6), MediaFrameRate(30000, 1001));
    EXPECT_EQ(MediaFrameIndex::nominalRate(90000, 41.54), MediaFrameRate(48, 1));
    EXPECT_EQ(MediaFrameIndex::nominalRate(0, 29.61), MediaFrameRate(30000, 1001));
    EXPECT_EQ(MediaFrameIndex::nominalRate(24, 29.98), MediaFrameRate(30, 1));
    EXPECT_TRUE(MediaFrameIndex::ratesSuggestVariable(30, 1, 600, 29));
    EXPECT_FALSE(MediaFrameIndex::ratesSuggestVariable(30000, 1001, 30000, 1001));
    EXPECT_FALSE(MediaFrameIndex::ratesSuggestVariable(0, 0, 25, 1));
}
