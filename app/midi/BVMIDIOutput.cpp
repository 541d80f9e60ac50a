#include "app/midi/BVMIDIOutput.h"

#include "support/BVLog.h"
#include "support/BVMainThread.h"
#include "support/BVSystemConsole.h"

#include <QRegularExpression>

BVMIDIOutput::BVMIDIOutput() = default;

BVMIDIOutput::~BVMIDIOutput()
{
    m_lifetime.end();
    m_hub.reset();
}

void BVMIDIOutput::connect()
{
    // Opened once: a menu refresh does not close and reopen the client and its ports.
    if (m_connectTried)
        return;
    m_connectTried = true;
    m_hub = MidiHub::create(QStringLiteral("Reelmark"), this);
    if (!m_hub)
        return;
    m_hub->enableNetwork(true);
    BVLog::appendLog("MIDI opened: %ld sources, %ld destinations", long(m_hub->sources().size()),
        long(m_hub->destinations().size()));
}

void BVMIDIOutput::midiSourceAdded(MidiHub *hub, MidiSource *source)
{
    (void)hub;
    source->setDelegate(this);
}

void BVMIDIOutput::midiSourceReceived(MidiSource *source, const MidiPacketList &packets)
{
    // Every packet of the list is looked at: a button may come after other messages.
    for (const QByteArray &packet : packets) {
        if (packet.size() != 3 || quint8(packet[0]) != 0x90 || quint8(packet[2]) != 0x7F)
            continue;
        const quint8 note = quint8(packet[1]);
        if (note != 0x5B && note != 0x5C && note != 0x5E)
            continue;
        BVMainThread::async([this, token = m_lifetime.token(), note, device = source->device()] {
            if (token.expired())
                return;
            m_surfaceDevices.insert(device);
            if (!m_delegate)
                return;
            if (note == 0x5B)
                m_delegate->midiRewPressed();
            else if (note == 0x5C)
                m_delegate->midiFFPressed();
            else
                m_delegate->midiPlayPressed();
        });
    }
}

bool BVMIDIOutput::isControlSurface(const MidiConnection &destination) const
{
    static const QRegularExpression surfaceName(
        QStringLiteral("mackie|\\bmcu\\b|x-touch|\\bhui\\b|control surface|logic control|\\bmcp\\b"),
        QRegularExpression::CaseInsensitiveOption);
    return m_surfaceDevices.contains(destination.device()) || surfaceName.match(destination.name()).hasMatch()
        || surfaceName.match(destination.device()).hasMatch();
}

QList<MidiDestination *> BVMIDIOutput::displayDestinations() const
{
    if (!m_hub)
        return {};
    const QList<MidiDestination *> all = m_hub->destinations();
    QList<MidiDestination *> surfaces;
    for (MidiDestination *destination : all) {
        if (isControlSurface(*destination))
            surfaces.append(destination);
    }
    return surfaces.isEmpty() ? all : surfaces;
}

void BVMIDIOutput::sendTimecode(const QString &timecode)
{
    sendMackieTimecode(timecode);
}

void BVMIDIOutput::sendMackieTimecode(const QString &timecode)
{
    if (timecode == m_lastTimecode)
        return;
    m_lastTimecode = timecode;
    if (!m_hub)
        return;
    const QString text = timecode.left(11);
    const QList<MidiDestination *> destinations = displayDestinations();
    int k = 0;
    for (qsizetype i = text.size() - 1; i >= 0; --i) {
        const QChar c = text.at(i);
        if (c < u'0' || c > u'9')
            continue;
        QByteArray message;
        message.append(char(0xB0));
        message.append(char(0x41 + k));
        message.append(char(c.unicode()));
        m_hub->sendBytes(message, destinations);
        ++k;
    }
}

void BVMIDIOutput::sendMIDITimecode(const QString &timecode, const BVMIDITimecodeRule &rule)
{
    if (timecode == m_lastTimecode)
        return;
    const std::optional<BVMIDITimecode> next
        = BVMIDITimecode::fromString(timecode, rule.rateCode, rule.framesPerUnit);
    if (!next) {
        BVSystemConsole::log(QStringLiteral("Unable to send MTC - invalid timecode string"));
        BVLog::appendLog("Unable to send MTC - invalid timecode string");
        return;
    }
    // Before anything was sent the receivers are taken to be at zero.
    const std::optional<BVMIDITimecode> last = m_lastTimecode.isEmpty()
        ? BVMIDITimecode {0, 0, 0, 0, rule.rateCode}
        : BVMIDITimecode::fromString(m_lastTimecode, rule.rateCode, rule.framesPerUnit);
    m_lastTimecode = timecode.left(11);
    if (last && *last == *next)
        return;
    if (m_hub)
        m_hub->sendBytes(next->fullFrameMessage());
}

void BVMIDIOutput::sendFullFrame(const QString &timecode, const BVMIDITimecodeRule &rule)
{
    m_lastTimecode = QStringLiteral("-");
    sendMIDITimecode(timecode, rule);
}

void BVMIDIOutput::sendQuarterFrame(int piece, const BVMIDITimecode &timecode)
{
    if (m_hub)
        m_hub->sendBytes(timecode.quarterFrameMessage(piece));
}
