// The asset side of BVAVAsset and the timecode operations of BVAVFoundation: loading and its
// callbacks, start timecode from the timecode track and from Broadcast Wave headers, the audio
// timecode setting, chapters, metadata and waveform data.
#include "platform/defaults/BVUserDefaults.h"
#include "platform/media/MediaAsset.h"
#include "player/media/BVAVAsset.h"
#include "player/time/BVAVFoundation.h"
#include "player/time/BVTimecode.h"
#include "support/BVMainThread.h"

#include "common/BVTestSupport.h"

#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

namespace {

const QStringList shortClip {QStringLiteral("--duration"), QStringLiteral("3")};

class RecordingDelegate : public BVMediaObjectDelegate
{
public:
    void mediaStatusChanged(const QString &status) override { events.append(status); }
    void prepareForPlayback() override { events.append(QStringLiteral("prepareForPlayback")); }
    void mediaPlaybackFailed(const BVError &error) override
    {
        events.append(QStringLiteral("failed"));
        failure = error;
    }
    void drawWaveformForAudioAssetAsync() override
    {
        waveformOnMainThread = BVMainThread::isMainThread();
        waveformCalls.fetch_add(1);
    }

    QStringList events; // main thread only
    BVError failure;
    std::atomic<int> waveformCalls {0};
    std::atomic<bool> waveformOnMainThread {true};
};

struct Loaded
{
    std::unique_ptr<BVAVAsset> media;
    std::unique_ptr<RecordingDelegate> delegate;
};

// Loads a file the way the document does: the load starts on a background thread.
Loaded load(const QString &path, bool audioOnly = false)
{
    Loaded loaded {std::make_unique<BVAVAsset>(), std::make_unique<RecordingDelegate>()};
    loaded.media->setDelegate(loaded.delegate.get());
    loaded.media->setIsAudioOnly(audioOnly);
    auto asset = MediaAsset::assetWithURL(QUrl::fromLocalFile(path));
    std::thread([media = loaded.media.get(), asset] { media->loadAsset(asset); }).join();
    RecordingDelegate *d = loaded.delegate.get();
    EXPECT_TRUE(BVTest::waitFor([d] {
        return d->events.contains(QStringLiteral("prepareForPlayback"))
            || d->events.contains(QStringLiteral("failed"));
    }));
    return loaded;
}

} // namespace

TEST(AVAsset, LoadingReportsLoadedThenPrepareForPlaybackWithTheMediaSettings)
{
    Loaded movie = load(BVTest::sampleMedia(QStringLiteral("movie"), shortClip));
    EXPECT_EQ(movie.delegate->events,
        (QStringList {QStringLiteral("loaded"), QStringLiteral("prepareForPlayback")}));
    BVAVAsset &m = *movie.media;
    EXPECT_TRUE(m.isLoaded());
    EXPECT_FALSE(m.isAudioOnly());
    EXPECT_NEAR(m.fps(), 23.976, 0.001);
    EXPECT_EQ(m.timebase(), 24);
    EXPECT_TRUE(m.ntsc());
    EXPECT_EQ(m.naturalSize(), QSizeF(1920, 1080));
    EXPECT_EQ(m.frameCount(), 72u);
    EXPECT_EQ(m.timecodeStart(), QStringLiteral("01:00:00:00"));
    EXPECT_FALSE(m.dropFrame());
    ASSERT_EQ(m.chapters().size(), 3);
    EXPECT_EQ(m.chapters()[1].title(), QStringLiteral("Chapter 2"));
    bool hasTitle = false;
    for (const MediaMetadataItem &item : m.metadata())
        hasTitle |= item.commonKey() == QLatin1String("title")
            && item.stringValue() == QLatin1String("Reelmark Sample");
    EXPECT_TRUE(hasTitle);
}

TEST(AVAsset, StartTimecodeComesFromTheTimecodeTrack)
{
    struct Case
    {
        const char *variant;
        const char *start;
        bool dropFrame;
        int timebase;
    };
    const Case cases[] = {
        {"df2997", "01:00:00;00", true, 30},
        {"df5994", "01:00:00;00", true, 60},
        {"fps25", "10:00:00:00", false, 25},
        {"movie", "01:00:00:00", false, 24},
        {"notc", "00:00:00:00", false, 24},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.variant);
        const QString path = BVTest::sampleMedia(QString::fromLatin1(c.variant), shortClip);
        auto asset = MediaAsset::assetWithURL(QUrl::fromLocalFile(path));
        EXPECT_EQ(BVAVFoundation::timecodeStartForAsset(asset, QStringLiteral("00:00:00:00")),
            QLatin1String(c.start));
        EXPECT_EQ(BVAVFoundation::isDropFrame(asset), c.dropFrame);

        Loaded loaded = load(path);
        EXPECT_EQ(loaded.media->timecodeStart(), QLatin1String(c.start));
        EXPECT_EQ(loaded.media->dropFrame(), c.dropFrame);
        EXPECT_EQ(loaded.media->timebase(), c.timebase);
    }
}

TEST(AVAsset, PositionTimecodeCountsFromTheStartTimecode)
{
    Loaded df = load(BVTest::sampleMedia(QStringLiteral("df2997"), shortClip));
    // Frame 60 (two seconds at 29.97) and the first frame.
    EXPECT_EQ(df.media->timecodeAtTime(MediaTime(60 * 1001, 30000)), QStringLiteral("01:00:02;00"));
    EXPECT_EQ(df.media->timecodeAtTime(MediaTime::zero()), QStringLiteral("01:00:00;00"));
    EXPECT_EQ(df.media->timecodeAtTime(MediaTime(-5, 1)), QStringLiteral("01:00:00;00"));
    EXPECT_EQ(df.media->timeForTimecode(QStringLiteral("01:00:02;00")),
        BVAVFoundation::timeFromFrameCount(60, df.media->fps()));
    EXPECT_FALSE(df.media->timeForTimecode(QStringLiteral("01:00")).isValid());

    // A cloud file counts frames at a time by ceiling, with its own start timecode.
    df.media->setIsVelo(true);
    EXPECT_EQ(df.media->timecodeAtTime(MediaTime(60 * 1001, 30000), QStringLiteral("00:10:00;00")),
        QStringLiteral("00:10:02;00"));
}

TEST(AVAsset, AudioFileTakesRateAndDropFrameFromTheAudioTimecodeSetting)
{
    auto *defaults = BVUserDefaults::standardUserDefaults();
    struct Case
    {
        const char *variant;
        int setting;
        double fps;
        bool dropFrame;
        const char *start;
        // The label of the frame showing one second of real time in, and one timecode second in
        // (1.001 s at the 1000/1001 rates).
        const char *atOneSecond;
        MediaTime timecodeSecond;
        const char *atTimecodeSecond;
    };
    const Case cases[] = {
        // Whatever the file says, 4 is 29.97 drop-frame.
        {"bwav16", 4, 29.97, true, "01:00:00;00", "01:00:00;29", MediaTime(1001, 1000), "01:00:01;00"},
        {"bwav24", 4, 29.97, true, "01:00:00;00", "01:00:00;29", MediaTime(1001, 1000), "01:00:01;00"},
        // The positions of a 25 fps audio file count at 25, not at the 29.97 of "no video".
        {"bwav24", 2, 25, false, "01:00:00:00", "01:00:01:00", MediaTime(1, 1), "01:00:01:00"},
        {"wav", 1, 24, false, "00:00:00:00", "00:00:01:00", MediaTime(1, 1), "00:00:01:00"},
        {"wav", 0, 23.976, false, "00:00:00:00", "00:00:00:23", MediaTime(1001, 1000), "00:00:01:00"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.variant) + " setting " + std::to_string(c.setting));
        defaults->setInteger(c.setting, QStringLiteral("defaultAudioTC"));
        Loaded audio = load(BVTest::sampleMedia(QString::fromLatin1(c.variant)), true);
        EXPECT_TRUE(audio.media->isAudioOnly());
        EXPECT_DOUBLE_EQ(audio.media->fps(), c.fps);
        EXPECT_EQ(audio.media->dropFrame(), c.dropFrame);
        EXPECT_EQ(audio.media->timecodeStart(), QLatin1String(c.start));
        EXPECT_EQ(audio.media->currentTimecode(), QLatin1String(c.start));
        EXPECT_EQ(audio.media->timecodeAtTime(MediaTime(1, 1)), QLatin1String(c.atOneSecond));
        EXPECT_EQ(audio.media->timecodeAtTime(c.timecodeSecond), QLatin1String(c.atTimecodeSecond));
        EXPECT_EQ(audio.media->naturalSize(), QSizeF(0, 0));
    }
    defaults->removeObjectForKey(QStringLiteral("defaultAudioTC"));
}

TEST(AVAsset, AudioTimecodeSettingTable)
{
    const std::pair<double, bool> expected[] = {
        {23.976, false},
        {24, false},
        {25, false},
        {29.97, false},
        {29.97, true},
        {30, false},
        {50, false},
        {59.94, false},
        {59.94, true},
        {60, false},
    };
    for (int setting = 0; setting <= 9; ++setting)
        EXPECT_EQ(BVAVAsset::audioTimecodeRate(setting), expected[setting]) << setting;
    EXPECT_EQ(BVAVAsset::audioTimecodeRate(-3), expected[0]);
    EXPECT_EQ(BVAVAsset::audioTimecodeRate(10), expected[0]);
}

TEST(AVAsset, MissingFileFailsWithoutClaimingToBeLoaded)
{
    Loaded missing = load(BVTest::makeTempFolder() + QStringLiteral("/gone.mov"));
    EXPECT_EQ(missing.delegate->events, QStringList {QStringLiteral("failed")});
    EXPECT_FALSE(missing.media->isLoaded());
    EXPECT_FALSE(missing.delegate->failure.localizedDescription().isEmpty());
}

TEST(AVAsset, WaveformOfAToneIsItsMeanMagnitudeFiftyTimesASecond)
{
    Loaded tone = load(BVTest::sampleMedia(QStringLiteral("wav")));
    // The data are marked done just before the delegate hears of them: wait for both.
    ASSERT_TRUE(BVTest::waitFor(
        [&] { return tone.media->waveformDataDone() && tone.delegate->waveformCalls.load() > 0; }));
    EXPECT_EQ(tone.delegate->waveformCalls.load(), 1);
    EXPECT_FALSE(tone.delegate->waveformOnMainThread.load());
    const std::vector<float> values = tone.media->waveformData();
    // 5 s of 48 kHz in runs of ceiling(48000 / 50) + 1 = 961 samples.
    EXPECT_EQ(values.size(), size_t(5 * 48000 / 961));
    // A sine of peak 2896 has a mean magnitude of 2896 x 2 / pi = 1843.7.
    for (size_t i = 0; i < values.size(); ++i)
        ASSERT_NEAR(values[i], 1843.7, 25) << "bin " << i;
    EXPECT_FLOAT_EQ(tone.media->waveformNormalize(), *std::max_element(values.begin(), values.end()));

    float normalize = 0;
    auto asset = MediaAsset::assetWithURL(
        QUrl::fromLocalFile(BVTest::sampleMedia(QStringLiteral("notc"), shortClip)));
    const auto movieAudio = BVAVFoundation::waveformDataForAsset(asset, &normalize);
    ASSERT_TRUE(movieAudio.has_value());
    EXPECT_NEAR(double(movieAudio->size()), 3 * 48000 / 961.0, 3);
    std::atomic<bool> cancelled {true};
    EXPECT_FALSE(BVAVFoundation::waveformDataForAsset(asset, &normalize, &cancelled).has_value());
}

TEST(AVAsset, WaveformOfSixChannelsCountsEveryChannelOfEveryFrame)
{
    // 5 s of 6-channel 48 kHz audio at steady levels, one per channel: 0.05, 0.10 ... 0.30 of full
    // scale until 2.5 s; after that only the sixth channel sounds (0.30).
    const QString path = BVTest::makeTempFolder() + QStringLiteral("/six.wav");
    QStringList levels;
    for (int c = 1; c <= 6; ++c)
        levels << (c < 6 ? QStringLiteral("if(lt(t\\,2.5)\\,%1\\,0)").arg(0.05 * c) : QStringLiteral("0.30"));
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-f"),
            QStringLiteral("lavfi"), QStringLiteral("-i"),
            QStringLiteral("aevalsrc=%1:s=48000:d=5:c=5.1").arg(levels.join(QLatin1Char('|'))),
            QStringLiteral("-c:a"), QStringLiteral("pcm_s16le"), path});
    ASSERT_TRUE(ffmpeg.waitForFinished(60000) && ffmpeg.exitCode() == 0)
        << ffmpeg.readAllStandardError().constData();

    float normalize = 0;
    const auto values = BVAVFoundation::waveformDataForAsset(
        MediaAsset::assetWithURL(QUrl::fromLocalFile(path)), &normalize);
    ASSERT_TRUE(values.has_value());
    // Fifty values a second: runs of ceiling(48000 / 50) + 1 = 961 frames of all six channels.
    EXPECT_EQ(values->size(), size_t(5 * 48000 / 961));
    // The mean of the six levels, in 16-bit units: (0.05 + ... + 0.30) / 6 x 32768; then 0.30 / 6.
    const double before = (0.05 + 0.10 + 0.15 + 0.20 + 0.25 + 0.30) / 6 * 32768;
    const double after = 0.30 / 6 * 32768;
    const size_t boundary = size_t(2.5 * 48000 / 961);
    for (size_t i = 0; i < values->size(); ++i) {
        if (i + 1 < boundary) {
            ASSERT_NEAR((*values)[i], before, 3) << "bin " << i;
        } else if (i > boundary + 1) {
            ASSERT_NEAR((*values)[i], after, 3) << "bin " << i;
        }
    }
    EXPECT_NEAR(normalize, before, 3);
}

TEST(AVAsset, CleanupStopsCallbacksAndForgetsTheMedia)
{
    auto media = std::make_unique<BVAVAsset>();
    RecordingDelegate delegate;
    media->setDelegate(&delegate);
    media->setTimecodeStart(QStringLiteral("01:00:00:00"));
    media->loadAsset(
        MediaAsset::assetWithURL(QUrl::fromLocalFile(BVTest::sampleMedia(QStringLiteral("wav")))));
    media->cleanup();
    BVTest::spin(std::chrono::milliseconds(500));
    EXPECT_TRUE(delegate.events.isEmpty());
    EXPECT_EQ(delegate.waveformCalls.load(), 0);
    EXPECT_TRUE(media->isUnloading());
    EXPECT_EQ(media->delegate(), nullptr);
    EXPECT_TRUE(media->timecodeStart().isEmpty());
    EXPECT_EQ(media->asset(), nullptr);
    media.reset();
}

TEST(AVFoundation, FramesAtTimeGivesBackTheFrameOfTimeFromFrameCount)
{
    for (double fps : {23.976, 24.0, 25.0, 29.97, 30.0, 50.0, 59.94, 60.0, 30000.0 / 1001}) {
        for (int64_t frame = 0; frame < 200000; frame += frame < 2000 ? 1 : 997) {
            const MediaTime time = BVAVFoundation::timeFromFrameCount(frame, fps);
            ASSERT_EQ(BVAVFoundation::framesAtTime(time, fps), uint64_t(frame)) << fps << " frame " << frame;
        }
    }
    // A time inside a frame names that frame (the one on screen), not the next.
    EXPECT_EQ(BVAVFoundation::framesAtTime(MediaTime(1, 48), 24), 0u);
    EXPECT_EQ(BVAVFoundation::framesAtTime(MediaTime(3, 48), 24), 1u);
    // Frame starts are exact: frame 37685 at 23.976 starts 37685 x 1001 / 24000 s in.
    EXPECT_EQ(BVAVFoundation::timeFromFrameCount(37685, 23.976), MediaTime(37685LL * 1001, 24000));
    EXPECT_EQ(BVAVFoundation::framesAtTime(MediaTime(-3, 48), 24), 0u);
    EXPECT_EQ(BVAVFoundation::framesAtTime(MediaTime::invalid(), 24), 0u);
    EXPECT_FALSE(BVAVFoundation::timeFromFrameCount(10, 0).isValid());
}

TEST(AVFoundation, TimecodeOfATimeRoundsFramesAndCountsFromTheStart)
{
    struct Case
    {
        MediaTime time;
        double fps;
        const char *start;
        bool dropFrame;
        const char *expected;
    };
    const Case cases[] = {
        {MediaTime(1800 * 1001, 30000), 29.97, "00:00:00;00", true, "00:01:00;02"},
        {MediaTime(17982 * 1001, 30000), 29.97, "00:00:00;00", true, "00:10:00;00"},
        {MediaTime(1, 1), 25, "10:00:00:00", false, "10:00:01:00"},
        {MediaTime(-1, 1), 25, "10:00:00:00", false, "10:00:00:00"},
        // A start point that is no timecode counts from zero.
        {MediaTime(2, 1), 25, "", false, "00:00:02:00"},
        {MediaTime(1001, 24000), 23.976, "01:00:00:00", false, "01:00:00:01"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(BVAVFoundation::timecodeAtTime(c.time, c.fps, QLatin1String(c.start), c.dropFrame),
            QLatin1String(c.expected))
            << c.expected;
}

TEST(AVFoundation, NetworkAddressesAndPlaylistsAreNotReadable)
{
    const QString wav = BVTest::sampleMedia(QStringLiteral("wav"));
    EXPECT_TRUE(BVAVFoundation::isReadable(MediaAsset::assetWithURL(QUrl::fromLocalFile(wav))));
    for (const char *address :
        {"http://127.0.0.1:9/a.mov", "HTTPS://127.0.0.1:9/a.mov", "ftp://127.0.0.1:9/a.mov"})
        EXPECT_FALSE(BVAVFoundation::isReadable(MediaAsset::assetWithURL(QUrl(QLatin1String(address)))))
            << address;
    const QString folder = BVTest::makeTempFolder();
    for (const char *name : {"/list.m3u", "/list.M3U8"}) {
        const QString copy = folder + QLatin1String(name);
        ASSERT_TRUE(QFile::copy(wav, copy));
        EXPECT_FALSE(BVAVFoundation::isReadable(MediaAsset::assetWithURL(QUrl::fromLocalFile(copy)))) << name;
    }
    EXPECT_FALSE(BVAVFoundation::isReadable(nullptr));
    EXPECT_DOUBLE_EQ(BVAVFoundation::fpsForAsset(MediaAsset::assetWithURL(QUrl::fromLocalFile(wav))), 29.97);
}

TEST(MediaObject, BaseDefaultsAndSeekRule)
{
    BVMediaObject base;
    EXPECT_EQ(base.currentTime(), MediaTime::zero());
    EXPECT_EQ(base.duration(), MediaTime::zero());
    EXPECT_FALSE(base.isPlaying());
    EXPECT_TRUE(base.isMuted());
    EXPECT_EQ(base.rate(), 1.0f);
    EXPECT_TRUE(base.loadedTimeRanges().isEmpty());
    base.seekToTime(MediaTime(5, 1));
    // Current time equals duration (both zero): the next play starts at zero.
    EXPECT_TRUE(base.seekToZeroBeforePlay());
    bool called = false;
    base.seekToTime(MediaTime(1, 1), [&called](bool) { called = true; });
    EXPECT_FALSE(called); // the base class does not seek, so it never completes a seek

    base.setFps(59.94);
    EXPECT_EQ(base.timebase(), 60);
    EXPECT_TRUE(base.ntsc());
    base.setFps(25);
    EXPECT_EQ(base.timebase(), 25);
    EXPECT_FALSE(base.ntsc());

    BVMediaObjectDelegate silent;
    EXPECT_TRUE(silent.playerShouldSeek());
}
