#pragma once

#include "app/midi/BVMIDITimecode.h"
#include "platform/midi/MidiHub.h"
#include "support/BVLifetime.h"

#include <QSet>
#include <QString>

#include <memory>
#include <mutex>

// Receives the transport buttons of a control surface. Main thread; each defaults to nothing.
class BVMIDIOutputDelegate
{
public:
    virtual ~BVMIDIOutputDelegate() = default;
    virtual void midiPlayPressed() { }
    virtual void midiRewPressed() { }
    virtual void midiFFPressed() { }
};

// The application's MIDI: obeys the transport buttons of a control surface (note on, channel 1,
// velocity 127: 0x5B rewind, 0x5C fast forward, 0x5E play/pause) from every source, and sends
// timecode to control-surface displays and as MIDI Time Code to every destination. Owned by the
// application controller. Main thread, except the packets, which arrive on the MIDI input thread.
class BVMIDIOutput : public MidiHubDelegate, public MidiSourceDelegate
{
public:
    BVMIDIOutput();
    ~BVMIDIOutput() override;

    BVMIDIOutputDelegate *delegate() const { return m_delegate; }
    void setDelegate(BVMIDIOutputDelegate *delegate) { m_delegate = delegate; }

    // Opens MIDI, once per run: later calls do nothing, and it stays open when the setting goes
    // back to 0. Every source of the system, present or to come, is listened to.
    void connect();
    MidiHub *hub() const { return m_hub.get(); }

    // The control-surface display (same as sendMackieTimecode()).
    void sendTimecode(const QString &timecode);
    // Each digit of the timecode, right to left, as control change B0 (0x41 + k) digit; nothing when
    // the timecode repeats the last one handled. To the destinations that are control surfaces
    // when any can be told apart, else to all.
    void sendMackieTimecode(const QString &timecode);
    // A locate: the full-frame message of the timecode, unless it names the timecode last handled
    // (00:00:00:00 before anything was sent). A string without four fields logs "Unable to send
    // MTC - invalid timecode string" and sends nothing.
    void sendMIDITimecode(const QString &timecode, const BVMIDITimecodeRule &rule = {});
    // The full-frame message, whatever was sent before (the start of a quarter-frame stream).
    void sendFullFrame(const QString &timecode, const BVMIDITimecodeRule &rule);
    void sendQuarterFrame(int piece, const BVMIDITimecode &timecode);
    // Quarter frames moved the receivers on: the next locate is sent whatever it names.
    void forgetLastTimecode() { m_lastTimecode = QStringLiteral("-"); }
    QString lastTimecode() const { return m_lastTimecode; }

    // Where the display bytes go: the control surfaces when any is known, else every destination.
    QList<MidiDestination *> displayDestinations() const;
    // A destination is known as a control surface by its name or device ("Mackie", "MCU",
    // "X-Touch", "HUI", "Control Surface" ...) or because its device sent a transport button.
    bool isControlSurface(const MidiConnection &destination) const;

    // MidiHubDelegate (main thread) and MidiSourceDelegate (MIDI input thread).
    void midiSourceAdded(MidiHub *hub, MidiSource *source) override;
    void midiSourceReceived(MidiSource *source, const MidiPacketList &packets) override;

private:
    std::unique_ptr<MidiHub> m_hub;
    bool m_connectTried = false;
    BVMIDIOutputDelegate *m_delegate = nullptr;
    // The last timecode either sender handled; empty before the first.
    QString m_lastTimecode;
    // Devices heard sending transport buttons (main thread).
    QSet<QString> m_surfaceDevices;
    BVLifetime m_lifetime;
};
