#pragma once

#include "platform/midi/MidiBackend.h"
#include "support/BVLifetime.h"

#include <QList>
#include <QString>

#include <memory>
#include <mutex>
#include <vector>

class MidiHub;
class MidiSource;
class MidiDestination;

// Told when endpoints come and go. Main thread.
class MidiHubDelegate
{
public:
    virtual ~MidiHubDelegate() = default;
    virtual void midiSourceAdded(MidiHub *hub, MidiSource *source) { (void)hub, (void)source; }
    virtual void midiSourceRemoved(MidiHub *hub, MidiSource *source) { (void)hub, (void)source; }
    virtual void midiDestinationAdded(MidiHub *hub, MidiDestination *destination)
    {
        (void)hub, (void)destination;
    }
    virtual void midiDestinationRemoved(MidiHub *hub, MidiDestination *destination)
    {
        (void)hub, (void)destination;
    }
};

// Told of every packet list a source sends. Called on the MIDI input thread.
class MidiSourceDelegate
{
public:
    virtual ~MidiSourceDelegate() = default;
    virtual void midiSourceReceived(MidiSource *source, const MidiPacketList &packets)
    {
        (void)source, (void)packets;
    }
};

// One endpoint of the system.
class MidiConnection
{
public:
    MidiConnection(MidiHub *midi, const MidiEndpointInfo &endpoint)
        : m_midi(midi)
        , m_endpoint(endpoint)
    { }
    virtual ~MidiConnection() = default;
    MidiHub *midi() const { return m_midi; }
    uint64_t endpoint() const { return m_endpoint.id; }
    QString name() const { return m_endpoint.name; }
    // The device (sequencer client) the endpoint belongs to; a source and a destination of one
    // device share it.
    QString device() const { return m_endpoint.device; }
    bool isNetworkSession() const { return m_endpoint.isNetworkSession; }

private:
    MidiHub *m_midi;
    MidiEndpointInfo m_endpoint;
};

class MidiSource : public MidiConnection
{
public:
    using MidiConnection::MidiConnection;
    MidiSourceDelegate *delegate() const;
    void setDelegate(MidiSourceDelegate *delegate);
    // A packet list arrived from the endpoint (MIDI input thread).
    void midiRead(const MidiPacketList &packets);

private:
    mutable std::mutex m_mutex;
    MidiSourceDelegate *m_delegate = nullptr;
};

class MidiDestination : public MidiConnection
{
public:
    using MidiConnection::MidiConnection;
};

// The program's MIDI client: an output port that sends to every destination of the system and an
// input port connected to every source, following devices as they are plugged in or out. Every
// failing MIDI call is logged ("Error (%@): %ld:%@") and the work goes on; nothing is shown. Create,
// use and destroy it on the main thread; sources call their delegates on the MIDI input thread.
class MidiHub : private MidiBackendListener
{
public:
    // Opens a client "<name> MIDI Client" with the ports "<name> Output Port" and "<name> Input
    // Port" and connects every endpoint of the system, telling the delegate. None when MIDI is off
    // (no sequencer and no REELMARK_MIDI) or the client cannot be made.
    static std::unique_ptr<MidiHub> create(const QString &name, MidiHubDelegate *delegate);
    ~MidiHub() override;

    MidiHubDelegate *delegate() const { return m_delegate; }
    void setDelegate(MidiHubDelegate *delegate) { m_delegate = delegate; }
    // Network sessions do not exist on this system; kept so callers can ask.
    void enableNetwork(bool enabled) { (void)enabled; }

    QList<MidiSource *> sources() const;
    QList<MidiDestination *> destinations() const;
    MidiSource *getSource(uint64_t endpoint) const;
    MidiDestination *getDestination(uint64_t endpoint) const;

    void scanExistingDevices();
    void connectSource(const MidiEndpointInfo &endpoint);
    void disconnectSource(uint64_t endpoint);
    void connectDestination(const MidiEndpointInfo &endpoint);
    void disconnectDestination(uint64_t endpoint);

    // Sends the bytes (at most 65,535) to every destination, one after another; a failed send is
    // logged and the others still get theirs. Answers whether every send succeeded.
    bool sendBytes(const QByteArray &bytes);
    // The same to the given destinations only.
    bool sendBytes(const QByteArray &bytes, const QList<MidiDestination *> &destinations);

    // Logs a failed MIDI call: "Error (step): status:text".
    static void logError(const QString &step, long status, const QString &text);

private:
    explicit MidiHub(std::unique_ptr<MidiBackend> backend, MidiHubDelegate *delegate);
    void backendReceived(uint64_t sourceID, const MidiPacketList &packets) override;
    void backendEndpointAdded(const MidiEndpointInfo &endpoint) override;
    void backendEndpointRemoved(uint64_t id, bool isSource) override;
    void report(const char *step, int status) const;

    std::unique_ptr<MidiBackend> m_backend;
    MidiHubDelegate *m_delegate;
    // Guards the lists: the input thread finds the source of a packet list in them.
    mutable std::recursive_mutex m_mutex;
    std::vector<std::unique_ptr<MidiSource>> m_sources;
    std::vector<std::unique_ptr<MidiDestination>> m_destinations;
    BVLifetime m_lifetime;
};
