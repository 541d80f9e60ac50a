#pragma once

#include "app/midi/BVMIDITimecode.h"
#include "player/document/BVDocumentTimecodeOutput.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

class BVDocument;
class BVMIDIOutput;
class BVMediaObject;
class BVTimer;

// A document's timecode output over the application's MIDI ("timecodeOutput" 2 and 3). Setting 2
// shows the timecode on control-surface displays. Setting 3 sends MIDI Time Code that receivers
// lock to: a full-frame message at every locate (open, seek, step, pause, typed entry, scrubbing
// and shuttling), and while playing at rate 1 the quarter-frame stream, pieces 0 to 7 over two
// frames, each piece at its quarter of a frame on the playback clock, every set naming the frame
// that was on screen when its piece 0 went out. One document streams at a time: the one that last
// started playing. Main thread.
class BVMIDITimecodeOutput : public BVDocumentTimecodeOutput
{
public:
    using MediaSource = std::function<BVMediaObject *()>;

    BVMIDITimecodeOutput(std::weak_ptr<BVMIDIOutput> output, MediaSource media);
    ~BVMIDITimecodeOutput() override;

    // Fills the document's timecode-output slot with one over the output.
    static void install(BVDocument &document, std::weak_ptr<BVMIDIOutput> output);

    void sendTimecode(const QString &rawTimecode, bool toDisplay) override;
    void transportPerformed(const BVTransportEvent &event) override;

    bool isStreaming() const { return m_streaming; }
    // Sends the quarter frames due at the playback clock's time and schedules the next call.
    void pump();

private:
    static int outputSetting();
    void ensureConnected();
    void startStream();
    void stopStream();
    // The full-frame message of the frame on screen; forced sends it even when it repeats.
    void locate(bool forced);
    // The quarter-frame instant at or before the media's current time (unit * 4 + quarter).
    int64_t quarterNow(const BVMediaObject &media, double *secondsToNext) const;
    BVMIDITimecode timecodeOfUnit(const BVMediaObject &media, int64_t unit) const;

    // The application's; every call finds out whether it is still there.
    std::weak_ptr<BVMIDIOutput> m_output;
    MediaSource m_media;
    std::unique_ptr<BVTimer> m_timer;
    bool m_streaming = false;
    BVMIDITimecodeRule m_rule;
    int64_t m_anchorQuarter = 0; // piece 0 of the first set
    int64_t m_lastSent = -1; // quarters sent since the anchor, less one
    BVMIDITimecode m_setTimecode;
    static BVMIDITimecodeOutput *s_streaming;
};
