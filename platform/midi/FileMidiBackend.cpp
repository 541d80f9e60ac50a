#include "platform/midi/FileMidiBackend.h"

#include <QRegularExpression>

#include <cerrno>
#include <chrono>
#include <cstring>

FileMidiBackend::FileMidiBackend(QString path)
    : m_path(std::move(path))
    , m_output(m_path)
{ }

FileMidiBackend::~FileMidiBackend()
{
    close([](const char *, int) {});
}

int FileMidiBackend::open(const QString &clientName, const QString &outputPortName,
    const QString &inputPortName, MidiBackendListener *listener, const char **failedStep)
{
    (void)clientName;
    (void)outputPortName;
    (void)inputPortName;
    m_listener = listener;
    if (!m_output.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        *failedStep = "Create MIDI client";
        return errno ? -errno : -EACCES;
    }
    {
        std::lock_guard lock(m_mutex);
        m_endpoints.append(
            Endpoint {{m_nextID++, false, QStringLiteral("File Destination"), QStringLiteral("File"), false},
                false, false});
        m_endpoints.append(Endpoint {
            {m_nextID++, true, QStringLiteral("File Source"), QStringLiteral("File"), false}, false, false});
    }
    m_running = true;
    m_thread = std::thread([this] { readLoop(); });
    return 0;
}

QList<MidiEndpointInfo> FileMidiBackend::endpoints()
{
    std::lock_guard lock(m_mutex);
    QList<MidiEndpointInfo> destinations;
    QList<MidiEndpointInfo> sources;
    for (const Endpoint &endpoint : m_endpoints)
        (endpoint.info.isSource ? sources : destinations).append(endpoint.info);
    return destinations + sources;
}

int FileMidiBackend::connectSource(uint64_t id)
{
    std::lock_guard lock(m_mutex);
    for (Endpoint &endpoint : m_endpoints) {
        if (endpoint.info.id == id && endpoint.info.isSource) {
            endpoint.connected = true;
            return 0;
        }
    }
    return -ENOENT;
}

int FileMidiBackend::disconnectSource(uint64_t id)
{
    std::lock_guard lock(m_mutex);
    for (Endpoint &endpoint : m_endpoints) {
        if (endpoint.info.id == id && endpoint.info.isSource) {
            endpoint.connected = false;
            return 0;
        }
    }
    return -ENOENT;
}

int FileMidiBackend::send(uint64_t destinationID, const QByteArray &bytes)
{
    const auto now = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    std::lock_guard lock(m_mutex);
    for (const Endpoint &endpoint : std::as_const(m_endpoints)) {
        if (endpoint.info.id != destinationID || endpoint.info.isSource)
            continue;
        if (endpoint.fails)
            return -EPIPE;
        QByteArray line = QByteArray::number(qlonglong(now.count())) + " [" + endpoint.info.name.toUtf8()
            + "] " + bytes.toHex(' ').toUpper() + '\n';
        return m_output.write(line) == line.size() ? 0 : -EIO;
    }
    return -ENOENT;
}

void FileMidiBackend::plug(const QString &name, bool isSource, bool fails)
{
    MidiEndpointInfo info {0, isSource, name, name, false};
    {
        std::lock_guard lock(m_mutex);
        info.id = m_nextID++;
        m_endpoints.append(Endpoint {info, fails, false});
    }
    m_listener->backendEndpointAdded(info);
}

void FileMidiBackend::unplug(const QString &name, bool isSource)
{
    uint64_t id = 0;
    {
        std::lock_guard lock(m_mutex);
        for (qsizetype i = 0; i < m_endpoints.size(); ++i) {
            if (m_endpoints[i].info.name == name && m_endpoints[i].info.isSource == isSource) {
                id = m_endpoints[i].info.id;
                m_endpoints.removeAt(i);
                break;
            }
        }
    }
    if (id)
        m_listener->backendEndpointRemoved(id, isSource);
}

void FileMidiBackend::readLine(const QByteArray &raw)
{
    const QString line = QString::fromUtf8(raw).trimmed();
    if (line.isEmpty())
        return;
    static const QRegularExpression plugLine(
        QStringLiteral("^([+-])(source|destination|failing-destination)\\s+(.+)$"));
    if (const QRegularExpressionMatch m = plugLine.match(line); m.hasMatch()) {
        const bool isSource = m.captured(2) == QLatin1String("source");
        if (m.captured(1) == QLatin1String("+"))
            plug(m.captured(3), isSource, m.captured(2).startsWith(QLatin1String("failing")));
        else
            unplug(m.captured(3), isSource);
        return;
    }
    QString rest = line;
    QString sourceName;
    if (rest.startsWith(u'[')) {
        const qsizetype end = rest.indexOf(u']');
        if (end < 0)
            return;
        sourceName = rest.mid(1, end - 1);
        rest = rest.mid(end + 1);
    }
    MidiPacketList packets;
    for (const QString &packet : rest.split(u'|')) {
        const QByteArray bytes = QByteArray::fromHex(packet.simplified().remove(u' ').toLatin1());
        if (!bytes.isEmpty())
            packets.append(bytes);
    }
    uint64_t id = 0;
    {
        std::lock_guard lock(m_mutex);
        for (const Endpoint &endpoint : std::as_const(m_endpoints)) {
            if (endpoint.info.isSource && (sourceName.isEmpty() || endpoint.info.name == sourceName)) {
                // Only what a connected source sends reaches the client, as with a sequencer.
                id = endpoint.connected ? endpoint.info.id : 0;
                break;
            }
        }
    }
    if (id && !packets.isEmpty())
        m_listener->backendReceived(id, packets);
}

void FileMidiBackend::readLoop()
{
    QFile input(m_path + QStringLiteral(".in"));
    qint64 offset = 0;
    QByteArray pending;
    while (m_running) {
        if (input.isOpen() || input.open(QIODevice::ReadOnly)) {
            if (input.size() < offset) // replaced: start again
                offset = 0;
            input.seek(offset);
            const QByteArray chunk = input.readAll();
            offset += chunk.size();
            pending += chunk;
            qsizetype newline;
            while ((newline = pending.indexOf('\n')) >= 0) {
                readLine(pending.left(newline));
                pending.remove(0, newline + 1);
            }
            input.close();
        }
        std::unique_lock lock(m_wakeMutex);
        m_wake.wait_for(lock, std::chrono::milliseconds(2), [this] { return !m_running; });
    }
}

void FileMidiBackend::close(const std::function<void(const char *step, int status)> &report)
{
    (void)report;
    {
        std::lock_guard lock(m_wakeMutex);
        m_running = false;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    std::lock_guard lock(m_mutex);
    m_output.close();
    m_endpoints.clear();
}

QString FileMidiBackend::errorText(int status) const
{
    return QString::fromLocal8Bit(std::strerror(-status));
}
