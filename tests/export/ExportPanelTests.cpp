#include "ExportTestSupport.h"

#include "common/BVTestSupport.h"
#include "export/BVAVExport.h"
#include "export/BVActivityController.h"
#include "export/BVActivityItemExport.h"
#include "export/BVActivityWindow.h"
#include "export/BVCodecSettingsWindows.h"
#include "export/BVExportPanel.h"
#include "export/BVExportSource.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QTableView>
#include <QUrl>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

class FakeSource : public BVExportSource
{
public:
    std::shared_ptr<MediaAsset> asset() const override { return m_asset; }
    QSizeF naturalSize() const override { return {1920, 1080}; }
    double fps() const override { return rate; }
    int64_t timebase() const override { return base; }
    bool ntsc() const override { return isNtsc; }
    bool dropFrame() const override { return drop; }
    QString timecodeStart() const override { return start; }
    MediaFrameRate frameRate() const override
    {
        return exact.isValid() ? exact : BVExportSource::frameRate();
    }
    int64_t frameAtTime(const MediaTime &time) const override
    {
        if (realFrameStarts.empty())
            return BVExportSource::frameAtTime(time);
        // Starts in thirtieths of a second; a hair of tolerance for the time's own rounding.
        const double ticks = time.seconds() * 30 + 1e-6;
        const auto after = std::upper_bound(realFrameStarts.begin(), realFrameStarts.end(), ticks);
        return int64_t(after - realFrameStarts.begin()) - 1;
    }
    MediaTimeRange inOutRange() const override { return range; }
    QString title() const override { return QStringLiteral("clip"); }
    QWidget *window() const override { return nullptr; }

    std::shared_ptr<MediaAsset> m_asset;
    MediaTimeRange range = MediaTimeRange(MediaTime(0, 0), MediaTime(0, 0));
    double rate = 25;
    int64_t base = 25;
    bool isNtsc = false;
    bool drop = false;
    QString start = QStringLiteral("10:00:00:00");
    MediaFrameRate exact; // the stream's own rate; none: the one the decimal rate stands for
    std::vector<double> realFrameStarts; // variable-rate footage: each real frame's start, in 1/30 s
};

// The label `frames` frames after a start label, counted one frame at a time: at 30 frames a
// second, drop-frame counting skips the labels ;00 and ;01 at the start of every minute but each
// tenth.
QString countOn(int hours, int minutes, int seconds, int frames, int64_t count, int timebase, bool drop)
{
    for (int64_t i = 0; i < count; ++i) {
        if (++frames < timebase)
            continue;
        frames = 0;
        if (++seconds == 60) {
            seconds = 0;
            if (++minutes == 60) {
                minutes = 0;
                hours = (hours + 1) % 24;
            }
            if (drop && minutes % 10 != 0)
                frames = 2;
        }
    }
    return QStringLiteral("%1:%2:%3%4%5")
        .arg(hours, 2, 10, QLatin1Char('0'))
        .arg(minutes, 2, 10, QLatin1Char('0'))
        .arg(seconds, 2, 10, QLatin1Char('0'))
        .arg(QChar(drop ? u';' : u':'))
        .arg(frames, 2, 10, QLatin1Char('0'));
}

QStringList items(const QComboBox *box)
{
    QStringList titles;
    for (int i = 0; i < box->count(); ++i)
        titles << box->itemText(i);
    return titles;
}

} // namespace

TEST(ExportPanel, VideoSettingsFollowTheCodec)
{
    FakeSource source;
    BVExportPanel panel(&source, nullptr);
    BVVideoCodecSettingsWindow *w = panel.videoCodecSettingsWindow();
    EXPECT_EQ(panel.exportVideoCodecPopUp()->count(), 8);
    EXPECT_EQ(w->videoWidthText->text(), QStringLiteral("1920"));
    EXPECT_EQ(w->videoHeightText->text(), QStringLiteral("1080"));
    EXPECT_TRUE(w->videoBitrateText->isEnabled());
    EXPECT_EQ(w->videoBitrateText->text(), QStringLiteral("5000"));
    EXPECT_EQ(w->videoKeyFrameMatrix->checkedId(), 0);
    EXPECT_EQ(w->videoKeyFrameText->text(), QStringLiteral("24"));
    for (int index : {0, 2, 3, 4, 5, 6, 7}) {
        panel.exportVideoCodecPopUp()->setCurrentIndex(index);
        panel.changeVideoCodec();
        EXPECT_FALSE(w->videoBitrateText->isEnabled()) << index;
        EXPECT_FALSE(w->videoKeyFrameText->isEnabled()) << index;
        EXPECT_FALSE(w->videoKeyFrameMatrix->button(2)->isEnabled()) << index;
    }
}

TEST(ExportPanel, AudioSettingsFollowTheCodec)
{
    FakeSource source;
    BVExportPanel panel(&source, nullptr);
    BVAudioCodecSettingsWindow *w = panel.audioCodecSettingsWindow();
    const struct
    {
        int index;
        bool endian, floating, bitrate, size;
        const char *bitrateText;
        int channels;
        const char *thirdChannel;
        int rates;
    } cases[] = {
        {1, true, true, false, true, "", 8, "3.0 (L R C)", 11},
        {2, false, false, true, false, "128", 8, "3.0 (C L R)", 9},
        {3, false, false, false, true, "", 2, nullptr, 11},
        {0, false, false, false, false, "", 0, nullptr, 11},
        {4, false, false, false, false, "", 0, nullptr, 11},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.index);
        panel.exportAudioCodecPopUp()->setCurrentIndex(c.index);
        panel.changeAudioCodec();
        EXPECT_EQ(w->audioEndianCheck->isEnabled(), c.endian);
        EXPECT_EQ(w->audioFloatingPointCheck->isEnabled(), c.floating);
        EXPECT_EQ(w->audioBitrateText->isEnabled(), c.bitrate);
        EXPECT_EQ(w->audioSampleSizePopUp->isEnabled(), c.size);
        EXPECT_EQ(w->audioBitrateText->text(), QLatin1String(c.bitrateText));
        EXPECT_EQ(w->audioSampleSizePopUp->currentText(), QStringLiteral("16"));
        EXPECT_EQ(w->audioChannelsPopUp->count(), c.channels);
        if (c.channels) {
            EXPECT_EQ(w->audioChannelsPopUp->currentText(), QStringLiteral("Stereo"));
        }
        if (c.thirdChannel) {
            EXPECT_EQ(w->audioChannelsPopUp->itemText(3), QLatin1String(c.thirdChannel));
        }
        EXPECT_EQ(w->audioRateCombo->count(), c.rates);
        EXPECT_EQ(w->audioRateCombo->currentText(), QStringLiteral("48.000"));
    }
    EXPECT_EQ(items(w->audioRateCombo).first(), QStringLiteral("8.000"));
    EXPECT_EQ(items(w->audioRateCombo).at(1), QStringLiteral("11.025"));
}

TEST(ExportPanel, SettingsBecomeTheEnginesProperties)
{
    FakeSource source;
    source.range = MediaTimeRange(MediaTime(10, 1), MediaTime(10, 1));
    BVExportPanel panel(&source, nullptr);
    BVVideoCodecSettingsWindow *v = panel.videoCodecSettingsWindow();
    BVAudioCodecSettingsWindow *a = panel.audioCodecSettingsWindow();
    v->videoKeyFrameMatrix->button(1)->setChecked(true);
    v->videoKeyFrameText->setText(QStringLiteral("0"));
    v->videoWidthText->setText(QStringLiteral("1280"));
    v->videoHeightText->setText(QStringLiteral("720"));
    panel.exportAudioCodecPopUp()->setCurrentIndex(2);
    panel.changeAudioCodec();
    a->audioChannelsPopUp->setCurrentIndex(6);
    a->audioRateCombo->setCurrentText(QStringLiteral("44.1"));
    auto engine = panel.makeExport(QStringLiteral("/tmp/x.mov"));
    EXPECT_EQ(engine->timeRange, source.range);
    EXPECT_EQ(engine->videoCodec, MediaVideoCodec::h264);
    EXPECT_EQ(engine->videoBitrate, 5000000);
    EXPECT_EQ(engine->videoFrameSize, QSize(1280, 720));
    EXPECT_EQ(engine->videoKeyFrameInterval, 24u); // "every 0 frames" reads as 24
    EXPECT_EQ(engine->videoKeyFrameDuration, 24u);
    EXPECT_EQ(engine->audioCodec, BVAVExport::audioFormatAAC);
    EXPECT_EQ(engine->audioLayout, 0x7C0006u);
    EXPECT_EQ(engine->audioChannelCount, 6u);
    EXPECT_EQ(engine->audioRate, 44100u);
    EXPECT_EQ(engine->audioBitrate, 128000u);
    EXPECT_EQ(engine->timecodeStart, QStringLiteral("10:00:10:00")); // the in point's source timecode

    v->videoKeyFrameMatrix->button(2)->setChecked(true);
    panel.exportAudioCodecPopUp()->setCurrentIndex(0);
    panel.changeAudioCodec();
    auto copy = panel.makeExport(QStringLiteral("/tmp/y.mov"));
    EXPECT_EQ(copy->videoKeyFrameInterval, 1u);
    EXPECT_EQ(copy->audioCodec, BVAVExport::audioCodecCopy);
    EXPECT_EQ(copy->audioLayout, 0x650002u); // nothing listed: stereo
    EXPECT_EQ(copy->audioChannelCount, 2u);

    auto trim = panel.makeTrim(QStringLiteral("/tmp/z.mov"));
    EXPECT_FALSE(trim->videoCodec);
    EXPECT_EQ(trim->audioCodec, BVAVExport::audioCodecCopy);
    EXPECT_EQ(trim->timecodeStart, QStringLiteral("10:00:10:00"));

    source.range = MediaTimeRange(MediaTime(0, 1), MediaTime(10, 1));
    EXPECT_EQ(panel.makeExport(QStringLiteral("/tmp/w.mov"))->timecodeStart, QStringLiteral("10:00:00:00"));
}

// In points far into NTSC clips name their source timecode by the exact rate: an in point at the
// start of frame 17982 of a 29.97 drop-frame clip from 01:00:00;00 is ten minutes in, 01:10:00;00.
TEST(ExportPanel, InPointsFarIntoNtscClipsGiveTheirSourceTimecode)
{
    FakeSource source;
    source.rate = 29.97;
    source.base = 30;
    source.isNtsc = true;
    source.drop = true;
    source.start = QStringLiteral("01:00:00;00");
    BVExportPanel panel(&source, nullptr);
    for (int64_t frame :
        {int64_t(17982), int64_t(1799), int64_t(17983), int64_t(107892 + 1800), int64_t(215784)}) {
        SCOPED_TRACE(frame);
        // The exact start of the frame, as the document's in point holds it.
        source.range = MediaTimeRange(MediaTime(frame * 1001, 30000), MediaTime(30 * 1001, 30000));
        const QString expected = countOn(1, 0, 0, 0, frame, 30, true);
        EXPECT_EQ(panel.makeExport(QStringLiteral("/tmp/df.mov"))->timecodeStart, expected);
        EXPECT_EQ(panel.makeTrim(QStringLiteral("/tmp/df-trim.mov"))->timecodeStart, expected);
    }

    source.rate = 23.976;
    source.base = 24;
    source.drop = false;
    source.start = QStringLiteral("00:59:50:00");
    for (int64_t frame : {int64_t(86399), int64_t(345601)}) {
        SCOPED_TRACE(frame);
        source.range = MediaTimeRange(MediaTime(frame * 1001, 24000), MediaTime(24 * 1001, 24000));
        EXPECT_EQ(panel.makeTrim(QStringLiteral("/tmp/ntsc.mov"))->timecodeStart,
            countOn(0, 59, 50, 0, frame, 24, false));
    }

    // A camera's rate a hair above 29.97 (1000000/33366): counted by the decimal rate the in point
    // of frame 17982 would fall a frame short; the media's own rate names it.
    source.exact = MediaFrameRate(1000000, 33366);
    source.rate = source.exact.fps();
    source.base = 30;
    source.start = QStringLiteral("00:00:00:00");
    source.range = MediaTimeRange(MediaTime(17982 * 33366, 1000000), MediaTime(33366 * 30, 1000000));
    EXPECT_EQ(panel.makeExport(QStringLiteral("/tmp/camera.mov"))->timecodeStart,
        countOn(0, 0, 0, 0, 17982, 30, false));
}

// Variable-rate footage counts its real frames: an in point at the 40th real frame starts the
// export at the 40th label after the start, wherever the average rate would put it.
TEST(ExportPanel, VariableRateInPointsCountRealFrames)
{
    FakeSource source;
    source.rate = 30;
    source.base = 30;
    source.start = QStringLiteral("00:00:00:00");
    // Frames of 1/30 s with every third one held twice as long (a phone dropping frames).
    int64_t start = 0;
    for (int k = 0; k < 90; ++k) {
        source.realFrameStarts.push_back(double(start));
        start += (k % 3 == 2) ? 2 : 1;
    }
    BVExportPanel panel(&source, nullptr);
    source.range = MediaTimeRange(MediaTime(int64_t(source.realFrameStarts[40]), 30), MediaTime(30, 30));
    EXPECT_EQ(panel.makeExport(QStringLiteral("/tmp/vfr.mov"))->timecodeStart, QStringLiteral("00:00:01:10"));
    EXPECT_EQ(
        panel.makeTrim(QStringLiteral("/tmp/vfr-trim.mov"))->timecodeStart, QStringLiteral("00:00:01:10"));
}
