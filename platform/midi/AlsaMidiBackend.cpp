#include "platform/midi/AlsaMidiBackend.h"

#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <map>
#include <vector>

namespace {

uint64_t endpointID(int client, int port)
{
    return (uint64_t(client) << 16) | uint64_t(port & 0xffff);
}

constexpr unsigned sourceCaps = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
constexpr unsigned destinationCaps = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;

} // namespace

AlsaMidiBackend::~AlsaMidiBackend()
{
    close([](const char *, int) {});
}

int AlsaMidiBackend::open(const QString &clientName, const QString &outputPortName,
    const QString &inputPortName, MidiBackendListener *listener, const char **failedStep)
{
    m_listener = listener;
    int status = snd_seq_open(&m_seq, "default", SND_SEQ_OPEN_DUPLEX, 0);
    if (status < 0) {
        m_seq = nullptr;
        *failedStep = "Create MIDI client";
        return status;
    }
    snd_seq_set_client_name(m_seq, clientName.toUtf8().constData());
    m_client = snd_seq_client_id(m_seq);
    m_outputPort = snd_seq_create_simple_port(m_seq, outputPortName.toUtf8().constData(), sourceCaps,
        SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    if (m_outputPort < 0) {
        *failedStep = "Create output MIDI port";
        return m_outputPort;
    }
    m_inputPort = snd_seq_create_simple_port(m_seq, inputPortName.toUtf8().constData(), destinationCaps,
        SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    if (m_inputPort < 0) {
        *failedStep = "Create input MIDI port";
        return m_inputPort;
    }
    // Ports that start or exit anywhere on the system are announced here.
    status = snd_seq_connect_from(m_seq, m_inputPort, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE);
    if (status < 0) {
        *failedStep = "Connecting to MIDI source";
        return status;
    }
    // The largest message a hub sends is 65,535 bytes.
    if ((status = snd_midi_event_new(65536, &m_encoder)) < 0
        || (status = snd_midi_event_new(65536, &m_decoder)) < 0) {
        *failedStep = "Create MIDI client";
        return status;
    }
    snd_midi_event_no_status(m_decoder, 1); // every packet carries its own status byte
    m_wakeFD = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_running = true;
    m_thread = std::thread([this] { readLoop(); });
    return 0;
}

bool AlsaMidiBackend::endpointInfo(int client, int port, bool isSource, MidiEndpointInfo *info)
{
    snd_seq_port_info_t *portInfo;
    snd_seq_port_info_alloca(&portInfo);
    if (snd_seq_get_any_port_info(m_seq, client, port, portInfo) < 0)
        return false;
    const unsigned caps = snd_seq_port_info_get_capability(portInfo);
    if (caps & SND_SEQ_PORT_CAP_NO_EXPORT)
        return false;
    const unsigned wanted = isSource ? sourceCaps : destinationCaps;
    if ((caps & wanted) != wanted)
        return false;
    info->id = endpointID(client, port);
    info->isSource = isSource;
    const char *name = snd_seq_port_info_get_name(portInfo);
    info->name = name && *name ? QString::fromUtf8(name) : QStringLiteral("Unknown name");
    snd_seq_client_info_t *clientInfo;
    snd_seq_client_info_alloca(&clientInfo);
    if (snd_seq_get_any_client_info(m_seq, client, clientInfo) >= 0)
        info->device = QString::fromUtf8(snd_seq_client_info_get_name(clientInfo));
    info->isNetworkSession = false;
    return true;
}

QList<MidiEndpointInfo> AlsaMidiBackend::endpoints()
{
    QList<MidiEndpointInfo> destinations;
    QList<MidiEndpointInfo> sources;
    if (!m_seq)
        return {};
    snd_seq_client_info_t *clientInfo;
    snd_seq_port_info_t *portInfo;
    snd_seq_client_info_alloca(&clientInfo);
    snd_seq_port_info_alloca(&portInfo);
    snd_seq_client_info_set_client(clientInfo, -1);
    while (snd_seq_query_next_client(m_seq, clientInfo) >= 0) {
        const int client = snd_seq_client_info_get_client(clientInfo);
        if (client == m_client || client == SND_SEQ_CLIENT_SYSTEM)
            continue;
        snd_seq_port_info_set_client(portInfo, client);
        snd_seq_port_info_set_port(portInfo, -1);
        while (snd_seq_query_next_port(m_seq, portInfo) >= 0) {
            const int port = snd_seq_port_info_get_port(portInfo);
            MidiEndpointInfo info;
            if (endpointInfo(client, port, false, &info))
                destinations.append(info);
            if (endpointInfo(client, port, true, &info))
                sources.append(info);
        }
    }
    return destinations + sources;
}

int AlsaMidiBackend::connectSource(uint64_t id)
{
    if (!m_seq)
        return -ENODEV;
    return snd_seq_connect_from(m_seq, m_inputPort, int(id >> 16), int(id & 0xffff));
}

int AlsaMidiBackend::disconnectSource(uint64_t id)
{
    if (!m_seq)
        return -ENODEV;
    return snd_seq_disconnect_from(m_seq, m_inputPort, int(id >> 16), int(id & 0xffff));
}

int AlsaMidiBackend::send(uint64_t destinationID, const QByteArray &bytes)
{
    std::lock_guard lock(m_sendMutex);
    if (!m_seq || !m_encoder)
        return -ENODEV;
    snd_midi_event_reset_encode(m_encoder);
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.constData());
    long left = bytes.size();
    while (left > 0) {
        snd_seq_event_t event;
        snd_seq_ev_clear(&event);
        const long used = snd_midi_event_encode(m_encoder, data, left, &event);
        if (used <= 0)
            return used < 0 ? int(used) : -EINVAL;
        data += used;
        left -= used;
        if (event.type == SND_SEQ_EVENT_NONE)
            continue;
        snd_seq_ev_set_source(&event, m_outputPort);
        snd_seq_ev_set_dest(&event, int(destinationID >> 16), int(destinationID & 0xffff));
        snd_seq_ev_set_direct(&event);
        const int status = snd_seq_event_output_direct(m_seq, &event);
        if (status < 0)
            return status;
    }
    return 0;
}

void AlsaMidiBackend::readLoop()
{
    const int count = snd_seq_poll_descriptors_count(m_seq, POLLIN);
    std::vector<pollfd> fds(size_t(count) + 1);
    snd_seq_poll_descriptors(m_seq, fds.data(), unsigned(count), POLLIN);
    fds[size_t(count)] = {m_wakeFD, POLLIN, 0};
    std::vector<unsigned char> buffer(65536);
    while (m_running) {
        if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR)
            break;
        if (!m_running)
            break;
        // What arrived together is one packet list per source.
        std::map<uint64_t, MidiPacketList> received;
        std::vector<uint64_t> order;
        while (snd_seq_event_input_pending(m_seq, 1) > 0) {
            snd_seq_event_t *event = nullptr;
            if (snd_seq_event_input(m_seq, &event) < 0 || !event)
                break;
            const int client = event->source.client;
            if (client == SND_SEQ_CLIENT_SYSTEM
                && (event->type == SND_SEQ_EVENT_PORT_START || event->type == SND_SEQ_EVENT_PORT_EXIT)) {
                const int c = event->data.addr.client;
                const int p = event->data.addr.port;
                if (c == m_client)
                    continue;
                if (event->type == SND_SEQ_EVENT_PORT_START) {
                    for (bool isSource : {false, true}) {
                        MidiEndpointInfo info;
                        if (endpointInfo(c, p, isSource, &info))
                            m_listener->backendEndpointAdded(info);
                    }
                } else {
                    m_listener->backendEndpointRemoved(endpointID(c, p), false);
                    m_listener->backendEndpointRemoved(endpointID(c, p), true);
                }
                continue;
            }
            snd_midi_event_reset_decode(m_decoder);
            const long size = snd_midi_event_decode(m_decoder, buffer.data(), long(buffer.size()), event);
            if (size <= 0)
                continue;
            const uint64_t id = endpointID(client, event->source.port);
            if (!received.count(id))
                order.push_back(id);
            received[id].append(QByteArray(reinterpret_cast<const char *>(buffer.data()), int(size)));
        }
        for (uint64_t id : order)
            m_listener->backendReceived(id, received[id]);
    }
}

void AlsaMidiBackend::close(const std::function<void(const char *step, int status)> &report)
{
    if (m_running.exchange(false)) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(m_wakeFD, &one, sizeof one);
    }
    if (m_thread.joinable())
        m_thread.join();
    if (m_wakeFD >= 0)
        ::close(m_wakeFD);
    m_wakeFD = -1;
    if (!m_seq)
        return;
    for (int *port : {&m_outputPort, &m_inputPort}) {
        if (*port >= 0) {
            if (const int status = snd_seq_delete_simple_port(m_seq, *port); status < 0)
                report("Dispose MIDI port", status);
        }
        *port = -1;
    }
    if (m_encoder)
        snd_midi_event_free(m_encoder);
    if (m_decoder)
        snd_midi_event_free(m_decoder);
    m_encoder = m_decoder = nullptr;
    if (const int status = snd_seq_close(m_seq); status < 0)
        report("Dispose MIDI client", status);
    m_seq = nullptr;
}

QString AlsaMidiBackend::errorText(int status) const
{
    return QString::fromUtf8(snd_strerror(status));
}
