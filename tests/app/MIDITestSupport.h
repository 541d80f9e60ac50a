#pragma once

// MIDI through the file stand-in of the sequencer, and a MIDI Time Code decoder of the tests' own,
// written from the MIDI Time Code message layout, not from the sender.
#include "common/BVTestSupport.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace MIDITest {

// One message the program sent: when (monotonic clock, microseconds), to which destination.
struct Sent
{
    qint64 micros = 0;
    QString destination;
    QByteArray bytes;
};

// A MIDI "system" made of two files: the program appends what it sends to `path`; what the test
// appends to `path`.in reaches the program as received packets.
class MidiFiles
{
public:
    MidiFiles()
    {
        path = BVTest::makeTempFolder(QStringLiteral("midi")) + QStringLiteral("/midi.log");
        BVTest::writeFile(path + QStringLiteral(".in"), {});
        qputenv("REELMARK_MIDI", ("file:" + path).toUtf8());
    }
    ~MidiFiles() { qunsetenv("REELMARK_MIDI"); }

    void receive(const QString &line) const
    {
        QFile in(path + QStringLiteral(".in"));
        if (in.open(QIODevice::Append))
            in.write(line.toUtf8() + '\n');
    }

    QList<Sent> sent() const
    {
        QList<Sent> result;
        for (const QByteArray &line : BVTest::readFile(path).split('\n')) {
            const qsizetype open = line.indexOf(" [");
            const qsizetype close = line.indexOf("] ");
            if (open < 0 || close < open)
                continue;
            result.append(
                {line.left(open).toLongLong(), QString::fromUtf8(line.mid(open + 2, close - open - 2)),
                    QByteArray::fromHex(line.mid(close + 2).replace(' ', ""))});
        }
        return result;
    }
    QList<QByteArray> sentTo(const QString &destination) const
    {
        QList<QByteArray> bytes;
        for (const Sent &s : sent())
            if (s.destination == destination)
                bytes.append(s.bytes);
        return bytes;
    }

    QString path;
};

// A timecode as a receiver reads it.
struct Timecode
{
    int hours = 0, minutes = 0, seconds = 0, frames = 0, rate = -1;
    QString label(bool dropFrame) const
    {
        return QString::asprintf(
            "%02d:%02d:%02d%c%02d", hours, minutes, seconds, dropFrame ? ';' : ':', frames);
    }
};

// What a receiver of MIDI Time Code makes of a byte stream.
class MTCDecoder
{
public:
    struct Set
    {
        qint64 firstPieceMicros; // when piece 0 of the set arrived
        Timecode timecode;
    };
    struct FullFrame
    {
        qint64 micros;
        Timecode timecode;
    };

    void feed(const Sent &message)
    {
        const QByteArray &b = message.bytes;
        if (b.size() == 2 && quint8(b[0]) == 0xF1) {
            const int piece = quint8(b[1]) >> 4;
            const int value = quint8(b[1]) & 0x0F;
            quarterMicros.push_back(message.micros);
            if (piece != m_expected)
                ++outOfOrder;
            m_expected = (piece + 1) % 8;
            if (piece == 0) {
                m_have = 0;
                m_setStart = message.micros;
            }
            m_nibbles[piece] = value;
            m_have |= 1 << piece;
            if (piece == 7 && m_have == 0xFF) {
                Timecode t;
                t.frames = m_nibbles[0] | ((m_nibbles[1] & 0x1) << 4);
                t.seconds = m_nibbles[2] | ((m_nibbles[3] & 0x3) << 4);
                t.minutes = m_nibbles[4] | ((m_nibbles[5] & 0x3) << 4);
                t.hours = m_nibbles[6] | ((m_nibbles[7] & 0x1) << 4);
                t.rate = (m_nibbles[7] >> 1) & 0x3;
                sets.push_back({m_setStart, t});
            }
            return;
        }
        if (b.size() == 10 && b.startsWith(QByteArray("\xF0\x7F\x7F\x01\x01", 5)) && quint8(b[9]) == 0xF7) {
            Timecode t;
            t.hours = quint8(b[5]) & 0x1F;
            t.rate = (quint8(b[5]) >> 5) & 0x3;
            t.minutes = quint8(b[6]);
            t.seconds = quint8(b[7]);
            t.frames = quint8(b[8]);
            fullFrames.push_back({message.micros, t});
            m_expected = 0; // a locate: quarter frames start again with piece 0
            m_have = 0;
        }
    }

    std::vector<Set> sets;
    std::vector<FullFrame> fullFrames;
    std::vector<qint64> quarterMicros;
    int outOfOrder = 0;

private:
    int m_expected = 0;
    int m_have = 0;
    int m_nibbles[8] = {};
    qint64 m_setStart = 0;
};

} // namespace MIDITest
