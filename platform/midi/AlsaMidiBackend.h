#pragma once

#include "platform/midi/MidiBackend.h"

#include <atomic>
#include <mutex>
#include <thread>

typedef struct _snd_seq snd_seq_t;
typedef struct snd_midi_event snd_midi_event_t;

// MIDI through the ALSA sequencer: one client with an output and an input port, every other
// client's ports as endpoints, hot-plug through the system announce port. Packets and
// announcements are read on the backend's own input thread.
class AlsaMidiBackend : public MidiBackend
{
public:
    AlsaMidiBackend() = default;
    ~AlsaMidiBackend() override;

    int open(const QString &clientName, const QString &outputPortName, const QString &inputPortName,
        MidiBackendListener *listener, const char **failedStep) override;
    QList<MidiEndpointInfo> endpoints() override;
    int connectSource(uint64_t id) override;
    int disconnectSource(uint64_t id) override;
    int send(uint64_t destinationID, const QByteArray &bytes) override;
    void close(const std::function<void(const char *step, int status)> &report) override;
    QString errorText(int status) const override;

private:
    void readLoop();
    bool endpointInfo(int client, int port, bool isSource, MidiEndpointInfo *info);

    snd_seq_t *m_seq = nullptr;
    int m_client = -1;
    int m_outputPort = -1;
    int m_inputPort = -1;
    int m_wakeFD = -1;
    snd_midi_event_t *m_encoder = nullptr;
    snd_midi_event_t *m_decoder = nullptr;
    std::mutex m_sendMutex; // the encoder and the output of events
    MidiBackendListener *m_listener = nullptr;
    std::atomic<bool> m_running {false};
    std::thread m_thread;
};
