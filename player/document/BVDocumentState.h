#pragma once

#include <QList>
#include <QString>

// What a window shows of its document, all at once: a new observer reads it once
// (BVDocument::currentState()) and follows the signals that carry each change after that.
struct BVDocumentState
{
    bool playing = false;
    bool transportEnabled = false;
    // The display string of the position ("timecodeDisplay" mode) and of the duration.
    QString timecode;
    QString durationText;
    // The playhead as a fraction of the duration.
    double playhead = 0;
    // The in and out points as fractions of the duration; -1 for none.
    double inFraction = -1;
    double outFraction = -1;
    // Start and end fractions of the buffered ranges, in pairs.
    QList<double> bufferedRanges;
    // How much of the duration can be played, as a fraction.
    double playableExtent = 1;
    float volume = 1;
};
