#include "platform/midi/MidiBackend.h"

#include "platform/midi/AlsaMidiBackend.h"
#include "platform/midi/FileMidiBackend.h"
#include "support/BVLog.h"

#include <QFileInfo>

#include <atomic>

std::unique_ptr<MidiBackend> MidiBackend::create()
{
    const QString selected = qEnvironmentVariable("REELMARK_MIDI");
    if (selected.startsWith(QLatin1String("file:")) && selected.size() > 5)
        return std::make_unique<FileMidiBackend>(selected.mid(5));
    if (QFileInfo::exists(QStringLiteral("/dev/snd/seq")))
        return std::make_unique<AlsaMidiBackend>();
    static std::atomic<bool> told {false};
    if (!told.exchange(true))
        BVLog::appendLog(
            "MIDI is off: this system has no ALSA sequencer (/dev/snd/seq) and REELMARK_MIDI is not set");
    return nullptr;
}
