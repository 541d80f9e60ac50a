#include "app/midi/BVMIDITimecodeOutput.h"

#include "app/midi/BVMIDIOutput.h"
#include "platform/defaults/BVUserDefaults.h"
#include "player/document/BVDocument.h"
#include "player/media/BVMediaObject.h"
#include "player/time/BVPositionText.h"
#include "support/BVTimer.h"

#include <algorithm>
#include <cmath>

BVMIDITimecodeOutput *BVMIDITimecodeOutput::s_streaming = nullptr;

BVMIDITimecodeOutput::BVMIDITimecodeOutput(std::weak_ptr<BVMIDIOutput> output, MediaSource media)
    : m_output(std::move(output))
    , m_media(std::move(media))
    , m_timer(std::make_unique<BVTimer>(0.001, false, [this] { pump(); }))
{ }

BVMIDITimecodeOutput::~BVMIDITimecodeOutput()
{
    if (s_streaming == this)
        s_streaming = nullptr;
}

void BVMIDITimecodeOutput::install(BVDocument &document, std::weak_ptr<BVMIDIOutput> output)
{
    if (output.expired())
        return;
    BVDocument *owner = &document; // the document owns its slot, so it outlives this
    // A choice in the Timecode Output menu refreshes the menus: MIDI opens when it is asked for.
    QObject::connect(&document, &BVDocument::menuStateChanged, &document, [output] {
        const int setting = outputSetting();
        if (setting < 1 || setting > 3)
            return;
        if (const std::shared_ptr<BVMIDIOutput> midi = output.lock())
            midi->connect();
    });
    document.setTimecodeOutput(
        std::make_unique<BVMIDITimecodeOutput>(std::move(output), [owner] { return owner->mediaObject(); }));
}

int BVMIDITimecodeOutput::outputSetting()
{
    return int(BVUserDefaults::standardUserDefaults()->integerForKey(QStringLiteral("timecodeOutput")));
}

void BVMIDITimecodeOutput::ensureConnected()
{
    const int setting = outputSetting();
    if (setting < 1 || setting > 3)
        return;
    if (const std::shared_ptr<BVMIDIOutput> output = m_output.lock())
        output->connect();
}

void BVMIDITimecodeOutput::sendTimecode(const QString &rawTimecode, bool toDisplay)
{
    ensureConnected();
    const std::shared_ptr<BVMIDIOutput> output = m_output.lock();
    if (!output)
        return;
    if (toDisplay) {
        output->sendTimecode(rawTimecode);
        return;
    }
    // While streaming the quarter frames carry the position; otherwise every new frame on screen is
    // a locate (opening, stepping, seeking, scrubbing, shuttling).
    if (m_streaming)
        return;
    BVMediaObject *media = m_media();
    const BVMIDITimecodeRule rule = media ? BVMIDITimecodeRule::forMedia(*media) : BVMIDITimecodeRule();
    output->sendMIDITimecode(rawTimecode, rule);
}

void BVMIDITimecodeOutput::transportPerformed(const BVTransportEvent &event)
{
    ensureConnected();
    if (outputSetting() != 3) {
        stopStream();
        return;
    }
    switch (event.kind) {
    case BVTransportEvent::Play:
    case BVTransportEvent::ShuttleDown:
    case BVTransportEvent::ShuttleUp:
        if (event.rate == 1) {
            startStream();
        } else {
            stopStream();
            locate(false);
        }
        break;
    case BVTransportEvent::Pause:
    case BVTransportEvent::EndOfMedia:
        stopStream();
        locate(false);
        break;
    default: // a jump of the playhead: receivers locate, and a running stream starts again from there
        if (m_streaming)
            startStream();
        else
            locate(false);
        break;
    }
}

void BVMIDITimecodeOutput::locate(bool forced)
{
    BVMediaObject *media = m_media();
    if (!media || !media->isLoaded())
        return;
    const QString text = BVPositionText::currentText(*media, BVPositionText::Timecode);
    const BVMIDITimecodeRule rule = BVMIDITimecodeRule::forMedia(*media);
    const std::shared_ptr<BVMIDIOutput> output = m_output.lock();
    if (!output)
        return;
    if (forced)
        output->sendFullFrame(text, rule);
    else
        output->sendMIDITimecode(text, rule);
}

void BVMIDITimecodeOutput::startStream()
{
    BVMediaObject *media = m_media();
    if (!media || !media->isLoaded() || media->timebase() <= 0)
        return;
    if (s_streaming && s_streaming != this)
        s_streaming->stopStream();
    s_streaming = this;
    m_rule = BVMIDITimecodeRule::forMedia(*media);
    // Receivers first learn where play starts, then the first set begins with the next frame.
    locate(true);
    double wait = 0;
    const int64_t now = quarterNow(*media, &wait);
    m_anchorQuarter = (now / 4 + 1) * 4;
    m_lastSent = -1;
    m_streaming = true;
    pump();
}

void BVMIDITimecodeOutput::stopStream()
{
    m_timer->stop();
    if (!m_streaming)
        return;
    m_streaming = false;
    if (s_streaming == this)
        s_streaming = nullptr;
    if (const std::shared_ptr<BVMIDIOutput> output = m_output.lock())
        output->forgetLastTimecode();
}

int64_t BVMIDITimecodeOutput::quarterNow(const BVMediaObject &media, double *secondsToNext) const
{
    const MediaTime time = media.currentTime();
    const int64_t unit = media.frameAtTime(time) / m_rule.framesPerUnit;
    const MediaTime start = media.timeOfFrame(unit * m_rule.framesPerUnit);
    const MediaTime end = media.timeOfFrame((unit + 1) * m_rule.framesPerUnit);
    const double length = (end - start).seconds();
    const double into = (time - start).seconds();
    if (length <= 0) {
        *secondsToNext = 0.001;
        return unit * 4;
    }
    const int quarter = std::clamp(int(std::floor(4 * into / length)), 0, 3);
    *secondsToNext = std::max(0.0, (quarter + 1) * length / 4 - into);
    return unit * 4 + quarter;
}

BVMIDITimecode BVMIDITimecodeOutput::timecodeOfUnit(const BVMediaObject &media, int64_t unit) const
{
    const QString text
        = BVPositionText::textForFrame(media, unit * m_rule.framesPerUnit, BVPositionText::Timecode);
    return BVMIDITimecode::fromString(text, m_rule.rateCode, m_rule.framesPerUnit)
        .value_or(BVMIDITimecode {0, 0, 0, 0, m_rule.rateCode});
}

void BVMIDITimecodeOutput::pump()
{
    if (!m_streaming)
        return;
    BVMediaObject *media = m_media();
    if (!media || !media->isLoaded() || media->rate() != 1 || outputSetting() != 3) {
        stopStream();
        locate(false);
        return;
    }
    const std::shared_ptr<BVMIDIOutput> output = m_output.lock();
    if (!output) {
        stopStream();
        return;
    }
    double wait = 0;
    const int64_t sinceAnchor = quarterNow(*media, &wait) - m_anchorQuarter;
    if (sinceAnchor < 0 && m_lastSent < 0) { // the first set starts with the next frame
        m_timer->setInterval(wait + 0.0004);
        m_timer->start();
        return;
    }
    if (sinceAnchor < m_lastSent || sinceAnchor - m_lastSent > 8) {
        // The clock went back or stalled for more than two frames: lock the receivers again.
        startStream();
        return;
    }
    for (int64_t q = m_lastSent + 1; q <= sinceAnchor; ++q) {
        const int piece = int(q % 8);
        if (piece == 0 || q == m_lastSent + 1)
            m_setTimecode = timecodeOfUnit(*media, m_anchorQuarter / 4 + (q / 8) * 2);
        output->sendQuarterFrame(piece, m_setTimecode);
    }
    m_lastSent = std::max(m_lastSent, sinceAnchor);
    // Wake at the next quarter, a little after it so the clock has reached it.
    m_timer->setInterval(wait + 0.0004);
    m_timer->start();
}
