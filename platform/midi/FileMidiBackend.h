#pragma once

#include "platform/midi/MidiBackend.h"

#include <QFile>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

// MIDI on a machine without a sequencer ("REELMARK_MIDI=file:PATH"). Every message sent is appended
// to PATH as one line: the monotonic clock in microseconds, the destination's name in brackets
// and the bytes in hexadecimal ("1234567 [File Destination] F1 01"). Lines appended to PATH.in are
// read as they arrive: "[SOURCE] 90 5E 7F | 90 5B 7F" is one packet list (packets split by "|";
// without a name it comes from the first source), "+source NAME", "-source NAME",
// "+destination NAME", "-destination NAME" plug endpoints in and out, and
// "+failing-destination NAME" adds one whose sends fail. It starts with the source "File Source"
// and the destination "File Destination".
class FileMidiBackend : public MidiBackend
{
public:
    explicit FileMidiBackend(QString path);
    ~FileMidiBackend() override;

    int open(const QString &clientName, const QString &outputPortName, const QString &inputPortName,
        MidiBackendListener *listener, const char **failedStep) override;
    QList<MidiEndpointInfo> endpoints() override;
    int connectSource(uint64_t id) override;
    int disconnectSource(uint64_t id) override;
    int send(uint64_t destinationID, const QByteArray &bytes) override;
    void close(const std::function<void(const char *step, int status)> &report) override;
    QString errorText(int status) const override;

private:
    struct Endpoint
    {
        MidiEndpointInfo info;
        bool fails = false;
        bool connected = false;
    };
    void readLoop();
    void readLine(const QByteArray &line);
    void plug(const QString &name, bool isSource, bool fails);
    void unplug(const QString &name, bool isSource);

    const QString m_path;
    QFile m_output;
    MidiBackendListener *m_listener = nullptr;
    std::mutex m_mutex; // the endpoints and the output file
    QList<Endpoint> m_endpoints;
    uint64_t m_nextID = 1;
    std::atomic<bool> m_running {false};
    std::mutex m_wakeMutex;
    std::condition_variable m_wake;
    std::thread m_thread;
};
