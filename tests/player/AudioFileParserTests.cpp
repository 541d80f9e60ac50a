#include "player/time/BVAudioFileParser.h"

#include "common/BVTestSupport.h"
#include "support/BVLog.h"

#include <gtest/gtest.h>

#include <QtEndian>

#include <optional>
#include <ostream>
#include <vector>

void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace {

struct Chunk
{
    QByteArray id;
    QByteArray data;
};

// Splits a RIFF WAVE file into its chunks (the generated samples are well formed).
std::vector<Chunk> chunksOf(const QByteArray &file)
{
    std::vector<Chunk> chunks;
    qsizetype offset = 12;
    while (offset + 8 <= file.size()) {
        const uint32_t size = qFromLittleEndian<uint32_t>(file.constData() + offset + 4);
        chunks.push_back({file.mid(offset, 4), file.mid(offset + 8, size)});
        offset += 8 + size + (size & 1);
    }
    return chunks;
}

QByteArray chunkBytes(const QByteArray &id, const QByteArray &data)
{
    QByteArray bytes = id;
    char size[4];
    qToLittleEndian<uint32_t>(uint32_t(data.size()), size);
    bytes.append(size, 4).append(data);
    if (data.size() % 2)
        bytes.append('\0');
    return bytes;
}

QByteArray waveFile(const std::vector<Chunk> &chunks, const QByteArray &form = "RIFF")
{
    QByteArray body = "WAVE";
    for (const Chunk &chunk : chunks)
        body += chunkBytes(chunk.id, chunk.data);
    QByteArray file = form;
    char size[4];
    qToLittleEndian<uint32_t>(uint32_t(body.size()), size);
    return file.append(size, 4).append(body);
}

const Chunk *find(const std::vector<Chunk> &chunks, const char *id)
{
    for (const Chunk &chunk : chunks) {
        if (chunk.id == id)
            return &chunk;
    }
    return nullptr;
}

QString writeTemp(const QString &name, const QByteArray &bytes)
{
    const QString path = BVTest::makeTempFolder(QStringLiteral("wav")) + u'/' + name;
    EXPECT_TRUE(BVTest::writeFile(path, bytes));
    return path;
}

class AudioFileParser : public ::testing::Test
{
protected:
    void SetUp() override
    {
        BVLog::createNewLog();
        const QString path = BVTest::sampleMedia(QStringLiteral("bwav16"));
        ASSERT_FALSE(path.isEmpty());
        m_chunks = chunksOf(BVTest::readFile(path));
        ASSERT_NE(find(m_chunks, "fmt "), nullptr);
        ASSERT_NE(find(m_chunks, "bext"), nullptr);
        ASSERT_NE(find(m_chunks, "data"), nullptr);
    }

    Chunk chunk(const char *id) const { return *find(m_chunks, id); }

    std::vector<Chunk> m_chunks;
};

} // namespace

TEST_F(AudioFileParser, GeneratedBroadcastWavesGiveTheirStartTimecode)
{
    for (const char *variant : {"bwav16", "bwav24"}) {
        const QString path = BVTest::sampleMedia(QString::fromLatin1(variant));
        ASSERT_FALSE(path.isEmpty()) << variant;
        EXPECT_EQ(BVAudioFileParser::timecodeFromBWF(path, 25, false), QStringLiteral("01:00:00:00"))
            << variant;
        EXPECT_EQ(BVAudioFileParser::timecodeFromBWF(path, 29.97, true), QStringLiteral("01:00:00;00"))
            << variant;
        EXPECT_EQ(BVAudioFileParser::timecodeFromBWF(path, 24, false), QStringLiteral("01:00:00:00"))
            << variant;
        const std::optional<BVAudioFileParser::BroadcastHeader> header
            = BVAudioFileParser::broadcastHeader(path);
        ASSERT_TRUE(header) << variant;
        EXPECT_EQ(header->sampleRate, 48000u);
        EXPECT_EQ(header->timeReference, 3600u * 48000u);
    }
}

TEST_F(AudioFileParser, FindsTheChunksWhereverTheyAre)
{
    // A 40-byte extensible fmt chunk, as 24-bit and multichannel files carry.
    Chunk extensible = chunk("fmt ");
    extensible.data = extensible.data.left(16)
        // cbSize 22, 24 valid bits, channel mask, then the PCM sub-format GUID.
        + QByteArray::fromHex("1600180003000000") + QByteArray::fromHex("0100000000001000800000aa00389b71");
    extensible.data[0] = char(0xFE);
    extensible.data[1] = char(0xFF);
    ASSERT_EQ(extensible.data.size(), 40);
    const Chunk odd {"JUNK", QByteArray(27, 'j')}; // odd size: padded to an even length
    const struct
    {
        const char *name;
        std::vector<Chunk> chunks;
    } layouts[] = {
        {"fmt-bext-data", {chunk("fmt "), chunk("bext"), chunk("data")}},
        {"bext-before-fmt", {chunk("bext"), chunk("fmt "), chunk("data")}},
        {"junk-between", {chunk("fmt "), {"JUNK", QByteArray(28, '\0')}, chunk("bext"), chunk("data")}},
        {"odd-junk-first", {odd, chunk("bext"), odd, chunk("fmt "), chunk("data")}},
        {"extensible-fmt", {extensible, chunk("LIST"), chunk("bext"), chunk("data")}},
        {"bext-after-data", {chunk("fmt "), chunk("data"), chunk("bext")}},
    };
    for (const auto &layout : layouts) {
        const QString path
            = writeTemp(QString::fromLatin1(layout.name) + QStringLiteral(".wav"), waveFile(layout.chunks));
        EXPECT_EQ(BVAudioFileParser::timecodeFromBWF(path, 25, false), QStringLiteral("01:00:00:00"))
            << layout.name;
        EXPECT_EQ(BVAudioFileParser::timecodeFromBWF(path, 59.94, true), QStringLiteral("01:00:00;00"))
            << layout.name;
    }
}

TEST_F(AudioFileParser, TimeReferenceIsCountedInTheFileSampleRate)
{
    Chunk format = chunk("fmt ");
    qToLittleEndian<uint32_t>(44100, format.data.data() + 4);
    Chunk bext = chunk("bext");
    // 10 h 20 min 30.5 s at 44.1 kHz.
    qToLittleEndian<uint64_t>(uint64_t(44100) * (10 * 3600 + 20 * 60 + 30) + 22050, bext.data.data() + 338);
    const QString path = writeTemp(QStringLiteral("44k.wav"), waveFile({format, bext, chunk("data")}));
    EXPECT_EQ(BVAudioFileParser::timecodeFromBWF(path, 25, false), QStringLiteral("10:20:30:13"));
    EXPECT_EQ(BVAudioFileParser::timecodeFromBWF(path, 24, false), QStringLiteral("10:20:30:12"));
}

TEST_F(AudioFileParser, FilesWithoutAUsableHeaderGiveNone)
{
    Chunk shortBext = chunk("bext");
    shortBext.data.truncate(300);
    Chunk shortFormat = chunk("fmt ");
    shortFormat.data.truncate(14);
    Chunk zeroRate = chunk("fmt ");
    qToLittleEndian<uint32_t>(0, zeroRate.data.data() + 4);
    QByteArray truncated = waveFile({chunk("fmt "), chunk("bext"), chunk("data")});
    truncated.truncate(12 + 8 + 16 + 8 + 100); // cut inside the bext chunk
    QByteArray sizePastEnd = waveFile({chunk("fmt "), {"JUNK", QByteArray(8, 'x')}, chunk("bext")});
    qToLittleEndian<uint32_t>(0x7FFFFFF0, sizePastEnd.data() + 12 + 8 + 16 + 4); // JUNK claims 2 GB

    const struct
    {
        const char *name;
        QByteArray bytes;
    } files[] = {
        {"no-bext", waveFile({chunk("fmt "), chunk("data")})},
        {"short-bext", waveFile({chunk("fmt "), shortBext, chunk("data")})},
        {"short-fmt", waveFile({shortFormat, chunk("bext"), chunk("data")})},
        {"no-fmt", waveFile({chunk("bext"), chunk("data")})},
        {"zero-rate", waveFile({zeroRate, chunk("bext"), chunk("data")})},
        {"truncated", truncated},
        {"size-past-end", sizePastEnd},
        {"not-wave", waveFile({chunk("fmt "), chunk("bext")}).replace(8, 4, "AVI ")},
        {"not-riff", QByteArray("ID3\x04 not a wave file at all")},
        {"empty", QByteArray()},
    };
    for (const auto &file : files) {
        const QString path = writeTemp(QString::fromLatin1(file.name) + QStringLiteral(".wav"), file.bytes);
        EXPECT_FALSE(BVAudioFileParser::timecodeFromBWF(path, 25, false)) << file.name;
        EXPECT_EQ(BVAudioFileParser::timecodeFromBWF(path, 25, false, QStringLiteral("00:00:00:00")),
            QStringLiteral("00:00:00:00"))
            << file.name;
    }
    EXPECT_FALSE(BVAudioFileParser::timecodeFromBWF(
        BVTest::homeDirectory() + QStringLiteral("/missing.wav"), 25, false));
}

TEST_F(AudioFileParser, PlainWaveLogsNoBroadcastHeader)
{
    const QString path = BVTest::sampleMedia(QStringLiteral("wav"));
    ASSERT_FALSE(path.isEmpty());
    EXPECT_EQ(BVAudioFileParser::timecodeFromBWF(path, 25, false, QStringLiteral("00:00:00:00")),
        QStringLiteral("00:00:00:00"));
    BVLog::finishWriting();
    const QByteArray log = BVTest::readFile(BVLog::sharedController()->currentLogPath());
    EXPECT_TRUE(log.contains(" - No broadcast header found\n")) << log.toStdString();
}

TEST_F(AudioFileParser, Rf64TakesTheDataSizeFromDs64)
{
    // An RF64 file keeps 0xFFFFFFFF as the size of "data" and its real size in "ds64"; "bext" after
    // the data is still found.
    QByteArray ds64(28, '\0');
    const Chunk data = chunk("data");
    qToLittleEndian<uint64_t>(uint64_t(data.data.size()), ds64.data() + 8);
    QByteArray bytes = waveFile({{"ds64", ds64}, chunk("fmt "), data, chunk("bext")}, "RF64");
    const qsizetype dataSizeAt = bytes.indexOf("data") + 4;
    qToLittleEndian<uint32_t>(0xFFFFFFFF, bytes.data() + dataSizeAt);
    const QString path = writeTemp(QStringLiteral("rf64.wav"), bytes);
    EXPECT_EQ(BVAudioFileParser::timecodeFromBWF(path, 25, false), QStringLiteral("01:00:00:00"));
}

namespace {

// The frames from midnight to a label, counted one label at a time (drop-frame skips the first
// `dropped` labels of each minute not divisible by ten).
int64_t framesToLabel(int timebase, int dropped, int h, int m, int s, int f)
{
    int ch = 0, cm = 0, cs = 0, cf = 0;
    int64_t frames = 0;
    while (!(ch == h && cm == m && cs == s && cf == f)) {
        ++frames;
        if (++cf < timebase)
            continue;
        cf = 0;
        if (++cs < 60)
            continue;
        cs = 0;
        if (++cm == 60) {
            cm = 0;
            ++ch;
        }
        if (dropped > 0 && cm % 10 != 0)
            cf = dropped;
    }
    return frames;
}

} // namespace

TEST_F(AudioFileParser, TimeOfDayStampsReadBackAtEveryAudioTimecodeRate)
{
    // The rows of the "defaultAudioTC" setting: rate as the setting gives it, the exact rate the
    // recorder counts at (numerator / denominator), and drop-frame.
    struct Row
    {
        double fps;
        int64_t numerator, denominator;
        int timebase, dropped;
    };
    const Row rows[] = {
        {24, 24, 1, 24, 0},
        {25, 25, 1, 25, 0},
        {29.97, 30000, 1001, 30, 0},
        {29.97, 30000, 1001, 30, 2},
        {30, 30, 1, 30, 0},
        {50, 50, 1, 50, 0},
        {59.94, 60000, 1001, 60, 0},
        {59.94, 60000, 1001, 60, 4},
        {60, 60, 1, 60, 0},
        {23.976, 24000, 1001, 24, 0},
    };
    struct Stamp
    {
        int h, m, s, f;
    };
    const Stamp stamps[] = {{0, 0, 0, 0}, {1, 0, 0, 0}, {9, 59, 59, 23}, {10, 0, 0, 0}, {14, 23, 11, 5},
        {19, 7, 0, 4}, {23, 59, 59, 22}};
    int index = 0;
    for (const Row &row : rows) {
        for (const Stamp &stamp : stamps) {
            const int64_t frames
                = framesToLabel(row.timebase, row.dropped, stamp.h, stamp.m, stamp.s, stamp.f);
            const QString label = QString::asprintf("%02d:%02d:%02d", stamp.h, stamp.m, stamp.s)
                + (row.dropped ? u';' : u':') + QString::asprintf("%02d", stamp.f);
            for (uint32_t sampleRate : {48000u, 44100u, 96000u}) {
                // The sample the recorder stamps: the frame's start, to the nearest sample.
                const auto reference = uint64_t(std::llround(
                    double(frames) * double(row.denominator) * sampleRate / double(row.numerator)));
                Chunk format = chunk("fmt ");
                qToLittleEndian<uint32_t>(sampleRate, format.data.data() + 4);
                Chunk bext = chunk("bext");
                qToLittleEndian<uint64_t>(reference, bext.data.data() + 338);
                const QString path = writeTemp(
                    QStringLiteral("tod%1.wav").arg(index++), waveFile({format, bext, chunk("data")}));
                EXPECT_EQ(BVAudioFileParser::timecodeFromBWF(path, row.fps, row.dropped > 0), label)
                    << row.fps << (row.dropped ? " DF" : "") << " at " << sampleRate;
            }
        }
    }
}

// What recorders write in iXML, and what is not a rate: the flag counts drops only at 29.97 and
// 59.94; an iXML chunk after the data chunk is found too.
TEST_F(AudioFileParser, RecorderRatesFromIxml)
{
    struct Case
    {
        const char *text;
        std::optional<double> fps;
        bool dropFrame;
    };
    const Case cases[] = {
        {"<BWFXML><SPEED><TIMECODE_RATE>30000/1001</TIMECODE_RATE><TIMECODE_FLAG>DF</TIMECODE_FLAG></SPEED></"
         "BWFXML>",
            30000.0 / 1001, true},
        {"<BWFXML><SPEED><TIMECODE_FLAG>NDF</TIMECODE_FLAG><TIMECODE_RATE>30000/1001</TIMECODE_RATE></"
         "SPEED></BWFXML>",
            30000.0 / 1001, false},
        {"<BWFXML><SPEED><TIMECODE_RATE>25/1</TIMECODE_RATE><TIMECODE_FLAG>DF</TIMECODE_FLAG></SPEED></"
         "BWFXML>",
            25, false},
        {"<BWFXML><SPEED><TIMECODE_RATE>24000/1001</TIMECODE_RATE></SPEED></BWFXML>", 24000.0 / 1001, false},
        {"<BWFXML><SPEED><TIMECODE_RATE>60000/1001</TIMECODE_RATE><TIMECODE_FLAG>df</TIMECODE_FLAG></SPEED></"
         "BWFXML>",
            60000.0 / 1001, true},
        {"<BWFXML><SPEED><TIMECODE_RATE>0/1</TIMECODE_RATE></SPEED></BWFXML>", std::nullopt, false},
        {"<BWFXML><SPEED><TIMECODE_RATE>30/0</TIMECODE_RATE></SPEED></BWFXML>", std::nullopt, false},
        {"<BWFXML><PROJECT>no speed</PROJECT></BWFXML>", std::nullopt, false},
        {"<BWFXML><SPEED><TIMECODE_RATE>25", std::nullopt, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        const auto rate = BVAudioFileParser::recorderRateFromIxml(QByteArray(c.text) + QByteArray(3, '\0'));
        ASSERT_EQ(rate.has_value(), c.fps.has_value());
        if (!rate)
            continue;
        EXPECT_NEAR(rate->fps, *c.fps, 1e-9);
        EXPECT_EQ(rate->dropFrame, c.dropFrame);
    }
    std::vector<Chunk> chunks = m_chunks;
    chunks.push_back({"iXML", QByteArray(cases[0].text)});
    const auto rate
        = BVAudioFileParser::recorderRate(writeTemp(QStringLiteral("late.wav"), waveFile(chunks)));
    ASSERT_TRUE(rate.has_value());
    EXPECT_TRUE(rate->dropFrame);
    EXPECT_FALSE(BVAudioFileParser::recorderRate(writeTemp(QStringLiteral("none.wav"), waveFile(m_chunks))));
}
