#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

// The bytes of one MIDI message (a packet); a packet list is what arrived together.
using MidiPacketList = QList<QByteArray>;

// An endpoint of the system as a backend sees it.
struct MidiEndpointInfo
{
    uint64_t id = 0;
    bool isSource = false;
    QString name; // the endpoint's name; "Unknown name" when it cannot be read
    QString device; // the device (sequencer client) the endpoint belongs to
    bool isNetworkSession = false;
};

// Told by a backend what happens on the system. Called on the backend's own input thread.
class MidiBackendListener
{
public:
    virtual ~MidiBackendListener() = default;
    virtual void backendReceived(uint64_t sourceID, const MidiPacketList &packets) = 0;
    virtual void backendEndpointAdded(const MidiEndpointInfo &endpoint) = 0;
    virtual void backendEndpointRemoved(uint64_t id, bool isSource) = 0;
};

// The system's MIDI services: the ALSA sequencer, or a file that stands in for it. Every call
// answers 0 or a negative status (an errno value) whose text errorText() gives; the hub logs them.
class MidiBackend
{
public:
    virtual ~MidiBackend() = default;

    // The backend the environment selects: "REELMARK_MIDI=file:PATH" the file, else the ALSA
    // sequencer when the kernel has one; none otherwise.
    static std::unique_ptr<MidiBackend> create();

    // Creates the client and its two ports; answers the status of the first step that failed and
    // names it in *failedStep.
    virtual int open(const QString &clientName, const QString &outputPortName, const QString &inputPortName,
        MidiBackendListener *listener, const char **failedStep)
        = 0;
    // Every endpoint now, destinations and sources, in the system's order.
    virtual QList<MidiEndpointInfo> endpoints() = 0;
    virtual int connectSource(uint64_t id) = 0;
    virtual int disconnectSource(uint64_t id) = 0;
    // Sends one message (or several complete ones) to one destination. Any thread.
    virtual int send(uint64_t destinationID, const QByteArray &bytes) = 0;
    // Stops the input thread, then disposes of the ports and the client, reporting failures.
    virtual void close(const std::function<void(const char *step, int status)> &report) = 0;
    virtual QString errorText(int status) const = 0;
};
