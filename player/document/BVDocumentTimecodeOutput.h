#pragma once

#include "player/document/BVTransportEvent.h"

#include <QString>

// Sends a document's timecode to MIDI: the control-surface display and MIDI Time Code. Installed by
// whoever builds documents (BVDocument::setTimecodeOutput), normally over the application's MIDI
// output; the default sends nothing. Main thread.
class BVDocumentTimecodeOutput
{
public:
    virtual ~BVDocumentTimecodeOutput() = default;

    // Every refreshed display with "timecodeOutput" 2 (toDisplay true) or 3: the source timecode.
    virtual void sendTimecode(const QString &rawTimecode, bool toDisplay)
    {
        (void)rawTimecode;
        (void)toDisplay;
    }
    // Every transport event (full-frame messages after a jump, quarter frames while playing).
    virtual void transportPerformed(const BVTransportEvent &event) { (void)event; }
};
