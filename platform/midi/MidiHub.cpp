#include "platform/midi/MidiHub.h"

#include "support/BVLog.h"
#include "support/BVMainThread.h"
#include "support/BVSystemConsole.h"

#include <cerrno>

MidiSourceDelegate *MidiSource::delegate() const
{
    std::lock_guard lock(m_mutex);
    return m_delegate;
}

void MidiSource::setDelegate(MidiSourceDelegate *delegate)
{
    std::lock_guard lock(m_mutex);
    m_delegate = delegate;
}

void MidiSource::midiRead(const MidiPacketList &packets)
{
    std::lock_guard lock(m_mutex);
    if (m_delegate)
        m_delegate->midiSourceReceived(this, packets);
}

void MidiHub::logError(const QString &step, long status, const QString &text)
{
    // To the system console, as the platform's MIDI services report, and to the program's log.
    const QString message = BVFormat::format("Error (%@): %ld:%@", step, status, text);
    BVSystemConsole::log(message);
    BVLog::appendLog(message);
}

void MidiHub::report(const char *step, int status) const
{
    logError(QString::fromLatin1(step), status, m_backend->errorText(status));
}

std::unique_ptr<MidiHub> MidiHub::create(const QString &name, MidiHubDelegate *delegate)
{
    std::unique_ptr<MidiBackend> backend = MidiBackend::create();
    if (!backend)
        return nullptr;
    std::unique_ptr<MidiHub> hub(new MidiHub(std::move(backend), delegate));
    const char *failedStep = "Create MIDI client";
    const int status = hub->m_backend->open(name + QStringLiteral(" MIDI Client"),
        name + QStringLiteral(" Output Port"), name + QStringLiteral(" Input Port"), hub.get(), &failedStep);
    if (status < 0) {
        hub->report(failedStep, status);
        if (QLatin1String(failedStep) == QLatin1String("Create MIDI client"))
            return nullptr;
    }
    hub->scanExistingDevices();
    return hub;
}

MidiHub::MidiHub(std::unique_ptr<MidiBackend> backend, MidiHubDelegate *delegate)
    : m_backend(std::move(backend))
    , m_delegate(delegate)
{ }

MidiHub::~MidiHub()
{
    m_lifetime.end();
    // The input thread ends before the sources it delivers to go away.
    m_backend->close([this](const char *step, int status) { report(step, status); });
}

QList<MidiSource *> MidiHub::sources() const
{
    std::lock_guard lock(m_mutex);
    QList<MidiSource *> list;
    for (const auto &source : m_sources)
        list.append(source.get());
    return list;
}

QList<MidiDestination *> MidiHub::destinations() const
{
    std::lock_guard lock(m_mutex);
    QList<MidiDestination *> list;
    for (const auto &destination : m_destinations)
        list.append(destination.get());
    return list;
}

MidiSource *MidiHub::getSource(uint64_t endpoint) const
{
    std::lock_guard lock(m_mutex);
    for (const auto &source : m_sources) {
        if (source->endpoint() == endpoint)
            return source.get();
    }
    return nullptr;
}

MidiDestination *MidiHub::getDestination(uint64_t endpoint) const
{
    std::lock_guard lock(m_mutex);
    for (const auto &destination : m_destinations) {
        if (destination->endpoint() == endpoint)
            return destination.get();
    }
    return nullptr;
}

void MidiHub::scanExistingDevices()
{
    const QList<MidiEndpointInfo> endpoints = m_backend->endpoints();
    for (const MidiEndpointInfo &endpoint : endpoints) {
        if (!endpoint.isSource)
            connectDestination(endpoint);
    }
    for (const MidiEndpointInfo &endpoint : endpoints) {
        if (endpoint.isSource)
            connectSource(endpoint);
    }
}

void MidiHub::connectSource(const MidiEndpointInfo &endpoint)
{
    MidiSource *source;
    {
        std::lock_guard lock(m_mutex);
        if (getSource(endpoint.id))
            return;
        m_sources.push_back(std::make_unique<MidiSource>(this, endpoint));
        source = m_sources.back().get();
    }
    if (m_delegate)
        m_delegate->midiSourceAdded(this, source);
    if (const int status = m_backend->connectSource(endpoint.id); status < 0)
        report("Connecting to MIDI source", status);
}

void MidiHub::disconnectSource(uint64_t endpoint)
{
    MidiSource *source = getSource(endpoint);
    if (!source)
        return;
    if (const int status = m_backend->disconnectSource(endpoint); status < 0)
        report("Disconnecting from MIDI source", status);
    if (m_delegate)
        m_delegate->midiSourceRemoved(this, source);
    std::lock_guard lock(m_mutex);
    std::erase_if(m_sources, [source](const auto &s) { return s.get() == source; });
}

void MidiHub::connectDestination(const MidiEndpointInfo &endpoint)
{
    MidiDestination *destination;
    {
        std::lock_guard lock(m_mutex);
        if (getDestination(endpoint.id))
            return;
        m_destinations.push_back(std::make_unique<MidiDestination>(this, endpoint));
        destination = m_destinations.back().get();
    }
    if (m_delegate)
        m_delegate->midiDestinationAdded(this, destination);
}

void MidiHub::disconnectDestination(uint64_t endpoint)
{
    MidiDestination *destination = getDestination(endpoint);
    if (!destination)
        return;
    if (m_delegate)
        m_delegate->midiDestinationRemoved(this, destination);
    std::lock_guard lock(m_mutex);
    std::erase_if(m_destinations, [destination](const auto &d) { return d.get() == destination; });
}

bool MidiHub::sendBytes(const QByteArray &bytes)
{
    return sendBytes(bytes, destinations());
}

bool MidiHub::sendBytes(const QByteArray &bytes, const QList<MidiDestination *> &destinations)
{
    if (bytes.isEmpty() || bytes.size() > 65535) {
        logError(QStringLiteral("Sending MIDI"), -EINVAL, m_backend->errorText(-EINVAL));
        return false;
    }
    bool sent = true;
    for (MidiDestination *destination : destinations) {
        if (const int status = m_backend->send(destination->endpoint(), bytes); status < 0) {
            report("Sending MIDI", status);
            sent = false;
        }
    }
    return sent;
}

void MidiHub::backendReceived(uint64_t sourceID, const MidiPacketList &packets)
{
    std::lock_guard lock(m_mutex);
    if (MidiSource *source = getSource(sourceID))
        source->midiRead(packets);
}

// The platform's add and remove announcements are handled on the main thread, like the rest.
void MidiHub::backendEndpointAdded(const MidiEndpointInfo &endpoint)
{
    BVMainThread::async([this, token = m_lifetime.token(), endpoint] {
        if (token.expired())
            return;
        if (endpoint.isSource)
            connectSource(endpoint);
        else
            connectDestination(endpoint);
    });
}

void MidiHub::backendEndpointRemoved(uint64_t id, bool isSource)
{
    BVMainThread::async([this, token = m_lifetime.token(), id, isSource] {
        if (token.expired())
            return;
        if (isSource)
            disconnectSource(id);
        else
            disconnectDestination(id);
    });
}
