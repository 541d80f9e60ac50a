// MIDI through the file stand-in of the sequencer: transport buttons in, control-surface display
// digits and MIDI Time Code out, decoded by the tests' own decoder and checked against the frame
// the picture showed.
#include "app/BVAppController.h"
#include "app/BVDocumentController.h"
#include "app/midi/BVMIDIOutput.h"
#include "app/midi/BVMIDITimecodeOutput.h"
#include "support/BVSystemConsole.h"

#include "app/MIDITestSupport.h"
#include "player/DocumentTestSupport.h"

#include <QMutex>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>

using namespace MIDITest;

namespace {

struct Buttons : BVMIDIOutputDelegate
{
    QStringList pressed;
    void midiPlayPressed() override { pressed.append(QStringLiteral("play")); }
    void midiRewPressed() override { pressed.append(QStringLiteral("rewind")); }
    void midiFFPressed() override { pressed.append(QStringLiteral("fastForward")); }
};

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray result;
    for (int v : values)
        result.append(char(v));
    return result;
}

// The console lines while the watcher lives.
class ConsoleWatch
{
public:
    ConsoleWatch()
    {
        BVSystemConsole::setObserver([this](const QString &line) {
            QMutexLocker locker(&m_mutex);
            m_lines.append(line);
        });
    }
    ~ConsoleWatch() { BVSystemConsole::setObserver({}); }
    QStringList lines()
    {
        QMutexLocker locker(&m_mutex);
        return m_lines;
    }
    bool contains(const QString &text)
    {
        for (const QString &line : lines())
            if (line.contains(text))
                return true;
        return false;
    }

private:
    QMutex m_mutex;
    QStringList m_lines;
};

} // namespace

TEST(MIDIHub, OpensOnceWithItsEndpointsAndFollowsPlugging)
{
    MidiFiles midi;
    BVMIDIOutput output;
    output.connect();
    ASSERT_NE(output.hub(), nullptr);
    MidiHub *hub = output.hub();
    output.connect(); // a menu refresh: the same client stays
    EXPECT_EQ(output.hub(), hub);
    ASSERT_EQ(hub->sources().size(), 1);
    ASSERT_EQ(hub->destinations().size(), 1);
    EXPECT_EQ(hub->sources()[0]->name(), QStringLiteral("File Source"));
    EXPECT_EQ(hub->destinations()[0]->name(), QStringLiteral("File Destination"));

    midi.receive(QStringLiteral("+destination Second"));
    ASSERT_TRUE(BVTest::waitFor([&] { return hub->destinations().size() == 2; }));
    EXPECT_TRUE(hub->sendBytes(bytes({0xF1, 0x01})));
    EXPECT_EQ(midi.sentTo(QStringLiteral("Second")), QList<QByteArray> {bytes({0xF1, 0x01})});
    midi.receive(QStringLiteral("-destination Second"));
    ASSERT_TRUE(BVTest::waitFor([&] { return hub->destinations().size() == 1; }));
    EXPECT_TRUE(hub->sendBytes(bytes({0xF1, 0x12})));
    EXPECT_EQ(midi.sentTo(QStringLiteral("Second")).size(), 1);
    EXPECT_EQ(midi.sentTo(QStringLiteral("File Destination")).size(), 2);
}

TEST(MIDIHub, AFailedSendIsLoggedAndTheOthersStillGetTheirs)
{
    MidiFiles midi;
    midi.receive(QStringLiteral("+failing-destination Broken"));
    midi.receive(QStringLiteral("+destination After"));
    ConsoleWatch console;
    BVMIDIOutput output;
    output.connect();
    ASSERT_NE(output.hub(), nullptr);
    ASSERT_TRUE(BVTest::waitFor([&] { return output.hub()->destinations().size() == 3; }));
    EXPECT_FALSE(output.hub()->sendBytes(bytes({0xF1, 0x05})));
    EXPECT_EQ(midi.sentTo(QStringLiteral("File Destination")).size(), 1);
    EXPECT_EQ(midi.sentTo(QStringLiteral("After")).size(), 1);
    EXPECT_TRUE(
        BVTest::waitFor([&] { return console.contains(QStringLiteral("Error (Sending MIDI): -32:")); }));
}

TEST(MIDIHub, WithoutSequencerOrFileMIDIStaysOff)
{
    if (QFile::exists(QStringLiteral("/dev/snd/seq")))
        GTEST_SKIP() << "this machine has a sequencer";
    qunsetenv("REELMARK_MIDI");
    BVMIDIOutput output;
    output.connect();
    EXPECT_EQ(output.hub(), nullptr);
    output.sendTimecode(QStringLiteral("01:00:00:00")); // nothing to send to, nothing happens
}

TEST(MIDIButtons, NoteOnOfChannelOneAtFullVelocityDrivesTheTransport)
{
    struct Case
    {
        const char *received;
        QStringList expected;
    };
    const Case cases[] = {
        {"90 5E 7F", {QStringLiteral("play")}},
        {"90 5B 7F", {QStringLiteral("rewind")}},
        {"90 5C 7F", {QStringLiteral("fastForward")}},
        {"90 5E 00", {}}, // released
        {"91 5E 7F", {}}, // channel 2
        {"90 5D 7F", {}}, // another note
        {"90 5E 7F 00", {}}, // not three bytes
        // A list whose button comes second is obeyed, and every button of a list counts.
        {"B0 41 30 | 90 5E 7F", {QStringLiteral("play")}},
        {"90 5B 7F | 90 5C 7F", {QStringLiteral("rewind"), QStringLiteral("fastForward")}},
    };
    MidiFiles midi;
    Buttons buttons;
    BVMIDIOutput output;
    output.setDelegate(&buttons);
    output.connect();
    ASSERT_NE(output.hub(), nullptr);
    for (const Case &c : cases) {
        buttons.pressed.clear();
        midi.receive(QString::fromLatin1(c.received));
        midi.receive(QStringLiteral("90 5E 7F")); // a marker: once it arrives, the case's list has
        ASSERT_TRUE(BVTest::waitFor([&] { return buttons.pressed.size() == c.expected.size() + 1; }))
            << c.received << " gave " << buttons.pressed.join(u',').toStdString();
        buttons.pressed.removeLast();
        EXPECT_EQ(buttons.pressed, c.expected) << c.received;
    }
}

TEST(MIDIButtons, SourcesPluggedInLaterAreHeardToo)
{
    MidiFiles midi;
    midi.receive(QStringLiteral("+source Present Surface"));
    Buttons buttons;
    BVMIDIOutput output;
    output.setDelegate(&buttons);
    output.connect();
    ASSERT_NE(output.hub(), nullptr);
    ASSERT_TRUE(BVTest::waitFor([&] { return output.hub()->sources().size() == 2; }));
    midi.receive(QStringLiteral("+source Late Surface"));
    ASSERT_TRUE(BVTest::waitFor([&] { return output.hub()->sources().size() == 3; }));
    midi.receive(QStringLiteral("[Present Surface] 90 5B 7F"));
    midi.receive(QStringLiteral("[Late Surface] 90 5C 7F"));
    midi.receive(QStringLiteral("[File Source] 90 5E 7F"));
    ASSERT_TRUE(BVTest::waitFor([&] { return buttons.pressed.size() == 3; }));
    EXPECT_EQ(buttons.pressed,
        QStringList({QStringLiteral("rewind"), QStringLiteral("fastForward"), QStringLiteral("play")}));
}

TEST(MIDIDisplay, DigitsGoOutRightToLeftOnceForOneTimecode)
{
    MidiFiles midi;
    BVMIDIOutput output;
    output.connect();
    output.sendTimecode(QStringLiteral("01:00:00:00"));
    output.sendTimecode(QStringLiteral("01:00:00:00"));
    // Controller 0x41 carries the rightmost digit, 0x48 the leftmost; the digit as its character.
    const QList<QByteArray> expected = {bytes({0xB0, 0x41, '0'}), bytes({0xB0, 0x42, '0'}),
        bytes({0xB0, 0x43, '0'}), bytes({0xB0, 0x44, '0'}), bytes({0xB0, 0x45, '0'}),
        bytes({0xB0, 0x46, '0'}), bytes({0xB0, 0x47, '1'}), bytes({0xB0, 0x48, '0'})};
    EXPECT_EQ(midi.sentTo(QStringLiteral("File Destination")), expected);
}

TEST(MIDIDisplay, OnlyControlSurfacesGetTheDigitsWhenOneIsKnown)
{
    MidiFiles midi;
    midi.receive(QStringLiteral("+destination Mackie Control Universal"));
    midi.receive(QStringLiteral("+source Fader Box"));
    midi.receive(QStringLiteral("+destination Fader Box"));
    BVMIDIOutput output;
    output.connect();
    ASSERT_TRUE(BVTest::waitFor([&] { return output.hub() && output.hub()->destinations().size() == 3; }));
    output.sendTimecode(QStringLiteral("00:00:00:01"));
    EXPECT_EQ(midi.sentTo(QStringLiteral("Mackie Control Universal")).size(), 8);
    EXPECT_TRUE(midi.sentTo(QStringLiteral("File Destination")).isEmpty());
    EXPECT_TRUE(midi.sentTo(QStringLiteral("Fader Box")).isEmpty());
    // A device that sends transport buttons is a control surface too.
    Buttons buttons;
    output.setDelegate(&buttons);
    midi.receive(QStringLiteral("[Fader Box] 90 5E 7F"));
    ASSERT_TRUE(BVTest::waitFor([&] { return buttons.pressed.size() == 1; }));
    output.sendTimecode(QStringLiteral("00:00:00:02"));
    EXPECT_EQ(midi.sentTo(QStringLiteral("Fader Box")).size(), 8);
    EXPECT_TRUE(midi.sentTo(QStringLiteral("File Destination")).isEmpty());
    // Time code goes to every destination.
    output.sendMIDITimecode(QStringLiteral("00:00:01:00"), {BVMIDITimecode::Fps25, 1});
    for (const char *name : {"Mackie Control Universal", "Fader Box", "File Destination"})
        EXPECT_TRUE(midi.sentTo(QString::fromLatin1(name))
                        .contains(bytes({0xF0, 0x7F, 0x7F, 0x01, 0x01, 0x20, 0, 1, 0, 0xF7})))
            << name;
}

TEST(MIDITimecode, LocatesSendTheFullFrameOnceAndRefuseBadStrings)
{
    MidiFiles midi;
    ConsoleWatch console;
    BVMIDIOutput output;
    output.connect();
    // Receivers start at zero: the first zeros need no message.
    output.sendMIDITimecode(QStringLiteral("00:00:00:00"), {BVMIDITimecode::Fps30, 1});
    EXPECT_TRUE(midi.sent().isEmpty());
    output.sendMIDITimecode(QStringLiteral("01000000"), {BVMIDITimecode::Fps30, 1});
    EXPECT_TRUE(midi.sent().isEmpty());
    EXPECT_TRUE(BVTest::waitFor(
        [&] { return console.contains(QStringLiteral("Unable to send MTC - invalid timecode string")); }));
    struct Case
    {
        const char *timecode;
        BVMIDITimecodeRule rule;
        QByteArray expected;
    };
    const Case cases[] = {
        {"00:00:00:01", {BVMIDITimecode::Fps30, 1},
            bytes({0xF0, 0x7F, 0x7F, 0x01, 0x01, 0x60, 0, 0, 1, 0xF7})},
        {"01:02:03;04", {BVMIDITimecode::Fps2997Drop, 1},
            bytes({0xF0, 0x7F, 0x7F, 0x01, 0x01, 0x41, 2, 3, 4, 0xF7})},
        {"23:59:59:23", {BVMIDITimecode::Fps24, 1},
            bytes({0xF0, 0x7F, 0x7F, 0x01, 0x01, 0x17, 59, 59, 23, 0xF7})},
        // 50 fps goes out as 25: frame 49 is MIDI frame 24.
        {"10:00:00:49", {BVMIDITimecode::Fps25, 2},
            bytes({0xF0, 0x7F, 0x7F, 0x01, 0x01, 0x2A, 0, 0, 24, 0xF7})},
    };
    for (const Case &c : cases) {
        const qsizetype before = midi.sent().size();
        output.sendMIDITimecode(QString::fromLatin1(c.timecode), c.rule);
        output.sendMIDITimecode(QString::fromLatin1(c.timecode), c.rule); // a repeat sends nothing
        const QList<Sent> sent = midi.sent();
        ASSERT_EQ(sent.size(), before + 1) << c.timecode;
        EXPECT_EQ(sent.last().bytes.toHex(' '), c.expected.toHex(' ')) << c.timecode;
    }
}

namespace {

struct PlayClip
{
    const char *rate;
    int timebase;
    int dropped; // labels skipped each minute not divisible by ten
    const char *start;
    int rateCode;
    double fps;
};

class MIDITimecodePlay : public ::testing::TestWithParam<PlayClip>
{
protected:
    void SetUp() override
    {
        DocumentTest::resetSettings();
        DocumentTest::defaults()->setInteger(3, QStringLiteral("timecodeOutput"));
    }
    void TearDown() override { DocumentTest::resetSettings(); }
};

qint64 nowMicros()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

TEST_P(MIDITimecodePlay, QuarterFramesNameTheFrameOnScreenInOrder)
{
    const PlayClip &clip = GetParam();
    const int frames = int(std::ceil(clip.fps * 6));
    const QString path = BVTest::sampleMedia(QStringLiteral("barcode"),
        {QStringLiteral("--rate"), QString::fromLatin1(clip.rate), QStringLiteral("--frames"),
            QString::number(frames), QStringLiteral("--tc"), QString::fromLatin1(clip.start)});
    const QString start = QString::fromLatin1(clip.start);
    const std::vector<QString> labels
        = DocumentTest::countLabels(clip.timebase, clip.dropped, start.mid(0, 2).toInt(),
            start.mid(3, 2).toInt(), start.mid(6, 2).toInt(), start.mid(9, 2).toInt(), frames);

    MidiFiles midi;
    auto output = std::make_shared<BVMIDIOutput>();
    output->connect();
    ASSERT_NE(output->hub(), nullptr);
    auto document = DocumentTest::open(path);
    BVMIDITimecodeOutput::install(*document, output);

    // What the picture shows, and since when.
    std::vector<std::pair<qint64, int>> shown;
    document->play();
    const qint64 began = nowMicros();
    while (nowMicros() - began < 2'600'000) {
        const int index = DocumentTest::shownIndex(*document);
        if (shown.empty() || shown.back().second != index)
            shown.emplace_back(nowMicros(), index);
        BVTest::spin(std::chrono::milliseconds(1));
    }
    document->pause();
    BVTest::spin(std::chrono::milliseconds(200));

    MTCDecoder decoder;
    for (const Sent &s : midi.sent())
        if (s.destination == QLatin1String("File Destination"))
            decoder.feed(s);
    auto labelIndex = [&](const Timecode &t) {
        const auto it = std::find(labels.begin(), labels.end(), t.label(clip.dropped > 0));
        return it == labels.end() ? -1 : int(it - labels.begin());
    };
    auto shownAt = [&](qint64 micros) {
        int index = -1;
        for (const auto &[when, i] : shown)
            if (when <= micros)
                index = i;
        return index;
    };

    EXPECT_EQ(decoder.outOfOrder, 0);
    ASSERT_GE(decoder.sets.size(), size_t(clip.fps)) << "two seconds of play make a set every two frames";
    // Four pieces a frame on average.
    const double span = double(decoder.quarterMicros.back() - decoder.quarterMicros.front()) / 1e6;
    const double perFrame = double(decoder.quarterMicros.size() - 1) / (span * clip.fps);
    EXPECT_NEAR(perFrame, 4.0, 0.2);
    int previous = -1;
    for (const MTCDecoder::Set &set : decoder.sets) {
        EXPECT_EQ(set.timecode.rate, clip.rateCode);
        const int index = labelIndex(set.timecode);
        ASSERT_GE(index, 0) << set.timecode.label(clip.dropped > 0).toStdString()
                            << " is no label of the clip";
        const int onScreen = shownAt(set.firstPieceMicros);
        EXPECT_LE(std::abs(index - onScreen), 1)
            << set.timecode.label(clip.dropped > 0).toStdString() << " while frame " << onScreen << " showed";
        if (previous >= 0) {
            EXPECT_EQ(index - previous, 2)
                << "a gap or a repeat before " << set.timecode.label(clip.dropped > 0).toStdString();
        }
        previous = index;
    }
    // The stream began with a full-frame locate and the pause ends with one at the frame shown.
    ASSERT_GE(decoder.fullFrames.size(), 2u);
    EXPECT_LT(decoder.fullFrames.front().micros, decoder.quarterMicros.front());
    EXPECT_EQ(labelIndex(decoder.fullFrames.back().timecode), DocumentTest::shownIndex(*document));
    if (clip.dropped > 0) { // the run crossed a minute with dropped labels
        EXPECT_NE(decoder.sets.back().timecode.minutes, decoder.sets.front().timecode.minutes);
    }
    document->close();
}

INSTANTIATE_TEST_SUITE_P(Rates, MIDITimecodePlay,
    ::testing::Values(PlayClip {"24000/1001", 24, 0, "01:00:00:00", 0, 24000.0 / 1001},
        PlayClip {"25", 25, 0, "01:00:00:00", 1, 25.0},
        PlayClip {"30000/1001", 30, 2, "01:00:58;00", 2, 30000.0 / 1001}),
    [](const ::testing::TestParamInfo<PlayClip> &param) {
        return std::string(param.param.timebase == 24 ? "Fps23976"
                : param.param.timebase == 25          ? "Fps25"
                                                      : "Fps2997Drop");
    });

TEST(MIDITimecodeLocate, SeekStepAndTypedEntrySendTheFrameOnScreen)
{
    DocumentTest::resetSettings();
    DocumentTest::defaults()->setInteger(3, QStringLiteral("timecodeOutput"));
    const QString path = BVTest::sampleMedia(QStringLiteral("barcode"),
        {QStringLiteral("--rate"), QStringLiteral("25"), QStringLiteral("--frames"), QStringLiteral("400"),
            QStringLiteral("--tc"), QStringLiteral("01:00:00:00")});
    MidiFiles midi;
    auto output = std::make_shared<BVMIDIOutput>();
    output->connect();
    auto document = DocumentTest::open(path);
    BVMIDITimecodeOutput::install(*document, output);

    auto lastFullFrame = [&]() -> QByteArray {
        MTCDecoder decoder;
        for (const Sent &s : midi.sent())
            decoder.feed(s);
        if (decoder.fullFrames.empty())
            return {};
        const Timecode &t = decoder.fullFrames.back().timecode;
        return QString::asprintf("%d %02d:%02d:%02d:%02d", t.rate, t.hours, t.minutes, t.seconds, t.frames)
            .toLatin1();
    };
    document->seekToTimecode(QStringLiteral("01:00:10:05"));
    EXPECT_TRUE(BVTest::waitFor([&] { return lastFullFrame() == "1 01:00:10:05"; }))
        << lastFullFrame().data();
    EXPECT_TRUE(BVTest::waitFor([&] { return DocumentTest::shownIndex(*document) == 255; }))
        << "the picture shows " << DocumentTest::shownIndex(*document);
    // The very bytes: F0 7F 7F 01 01, hours with 25 fps (01) in bits 5-6, minutes, seconds, frames, F7.
    EXPECT_TRUE(
        midi.sent().last().bytes == bytes({0xF0, 0x7F, 0x7F, 0x01, 0x01, 0x21, 0x00, 0x0A, 0x05, 0xF7}));
    document->stepRight();
    EXPECT_TRUE(BVTest::waitFor([&] { return lastFullFrame() == "1 01:00:10:06"; }))
        << lastFullFrame().data();
    EXPECT_TRUE(BVTest::waitFor([&] { return DocumentTest::shownIndex(*document) == 256; }));
    document->windowController()->openTimecodeEntry(QStringLiteral("01:00:02:00"));
    document->timecodeModified(QStringLiteral("01:00:02:00"));
    EXPECT_TRUE(BVTest::waitFor([&] { return lastFullFrame() == "1 01:00:02:00"; }))
        << lastFullFrame().data();
    document->close();
}

TEST(MIDIButtons, PlayPressedStartsAndPausesTheFrontDocumentAndNothingWithoutOne)
{
    DocumentTest::resetSettings();
    MidiFiles midi;
    BVAppController controller;
    DocumentTest::defaults()->setInteger(0, QStringLiteral("autoplay"));
    DocumentTest::defaults()->setInteger(1, QStringLiteral("timecodeOutput")); // buttons, no timecode
    controller.updateOptionSelections();
    ASSERT_NE(controller.midiOutput()->hub(), nullptr);
    midi.receive(QStringLiteral("90 5E 7F")); // no document: nothing happens
    BVTest::spin(std::chrono::milliseconds(100));
    EXPECT_TRUE(BVDocumentController::sharedDocumentController()->documents().isEmpty());

    const QString path = BVTest::sampleMedia(QStringLiteral("barcode"),
        {QStringLiteral("--rate"), QStringLiteral("25"), QStringLiteral("--frames"), QStringLiteral("250")});
    BVDocument *document = BVDocumentController::sharedDocumentController()->openDocumentWithContentsOfURL(
        QUrl::fromLocalFile(path), true, nullptr);
    ASSERT_NE(document, nullptr);
    ASSERT_TRUE(BVTest::waitFor([&] { return document->isReady(); }));
    const int before = DocumentTest::shownIndex(*document);
    midi.receive(QStringLiteral("90 5E 7F"));
    EXPECT_TRUE(BVTest::waitFor([&] { return DocumentTest::shownIndex(*document) > before + 5; }))
        << "the picture moves on";
    midi.receive(QStringLiteral("90 5E 7F"));
    ASSERT_TRUE(BVTest::waitFor([&] { return document->mediaObject()->rate() == 0; }));
    const int paused = DocumentTest::shownIndex(*document);
    BVTest::spin(std::chrono::milliseconds(300));
    EXPECT_EQ(DocumentTest::shownIndex(*document), paused);
    // With setting 1 no timecode goes out.
    EXPECT_TRUE(midi.sent().isEmpty());
    BVDocumentController::sharedDocumentController()->closeAllDocuments();
    BVTest::spin(std::chrono::milliseconds(100));
}
