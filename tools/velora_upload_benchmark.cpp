// Uploads a generated file (2048 MB by default) through the Velora client's own-server road (one
// multipart POST streamed from disk) to a velora-server started on 127.0.0.1, and prints the time
// and the client's resident memory: idle, the highest seen while uploading, and the difference.
// The bare HTTP layer uploading the same file to the same server runs first, as the baseline.
//
//   bv_velora_upload_benchmark [megabytes]      (needs python3-aiohttp; BV_SOURCE_DIR is compiled in)
#include "cloud/BVVelora.h"
#include "net/BVFormDataRequest.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <thread>

namespace {

long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// Samples the resident size every 20 ms while it lives.
class PeakSampler
{
public:
    PeakSampler()
        : m_thread([this] {
            while (!m_stop.load()) {
                const long now = residentKiB();
                long seen = m_peak.load();
                while (now > seen && !m_peak.compare_exchange_weak(seen, now)) { }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        })
    { }
    ~PeakSampler() { stop(); }
    long stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        return m_peak.load();
    }

private:
    std::atomic<bool> m_stop {false};
    std::atomic<long> m_peak {0};
    std::thread m_thread;
};

void spinUntil(const std::function<bool()> &done)
{
    while (!done())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

struct Outcome : BVVeloraDelegate, BVHTTPRequestDelegate, BVHTTPUploadProgressDelegate
{
    bool ended = false;
    bool failed = false;
    qint64 sent = 0;
    QString message;
    void veloraFileUploaded(BVVelora *, const QVariant &) override { ended = true; }
    void veloraUploadFileFailedWithError(BVVelora *, const BVError &error) override
    {
        ended = failed = true;
        message = BVVelora::messageForError(error);
    }
    void veloraDidUploadBytes(BVVelora *, qint64 bytes, const QVariantMap &) override { sent += bytes; }
    void requestFinished(BVHTTPRequest *) override { ended = true; }
    void requestFailed(BVHTTPRequest *request) override
    {
        ended = failed = true;
        message = request->error().localizedDescription();
    }
    void requestDidSendBytes(BVHTTPRequest *, qint64 bytes) override { sent += bytes; }
};

void report(const char *what, qint64 bytes, long idle, long peak, qint64 ms, const Outcome &outcome)
{
    std::printf(
        "%-28s %s  %7.1f s  %6.1f MB/s  idle %6.1f MB  peak %6.1f MB  growth %6.1f MB  progress %lld B\n",
        what, outcome.failed ? qPrintable(QStringLiteral("FAILED (") + outcome.message + ')') : "ok",
        ms / 1000.0, bytes / 1048576.0 / (ms / 1000.0), idle / 1024.0, peak / 1024.0, (peak - idle) / 1024.0,
        static_cast<long long>(outcome.sent));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qputenv("BV_CREDENTIAL_STORE", "file");
    const qint64 megabytes = argc > 1 ? atoll(argv[1]) : 2048;
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("upload.mov"));
    {
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        QByteArray block(1 << 20, '\0');
        for (int i = 0; i < block.size(); ++i)
            block[i] = char((i * 131) & 0xFF);
        for (qint64 i = 0; i < megabytes; ++i)
            file.write(block);
    }
    const qint64 bytes = megabytes << 20;

    QProcess server;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VELORA_ADMIN_PASSWORD"), QStringLiteral("benchmark-password"));
    server.setProcessEnvironment(environment);
    server.setProcessChannelMode(QProcess::MergedChannels);
    server.start(QStringLiteral("/usr/bin/python3"),
        {QStringLiteral(BV_SOURCE_DIR "/server/velora-server"), QStringLiteral("--data"),
            folder.filePath("data"), QStringLiteral("--port"), QStringLiteral("0"),
            QStringLiteral("--ws-port"), QStringLiteral("0")});
    QString output;
    int port = 0;
    static const QRegularExpression listening(QStringLiteral("listening on http://[^:]+:(\\d+)"));
    for (int i = 0; i < 300 && port == 0 && server.state() != QProcess::NotRunning; ++i) {
        server.waitForReadyRead(100);
        output += QString::fromUtf8(server.readAll());
        const QRegularExpressionMatch match = listening.match(output);
        if (match.hasMatch())
            port = match.captured(1).toInt();
    }
    if (port == 0) {
        std::fprintf(stderr, "velora-server did not start:\n%s\n", qPrintable(output));
        return 1;
    }
    const QString site = QStringLiteral("http://127.0.0.1:%1").arg(port);
    std::printf("%lld MB file, velora-server at %s\n", static_cast<long long>(megabytes), qPrintable(site));

    // Baseline: the HTTP layer alone, the same file as the one part of a streamed form.
    {
        Outcome outcome;
        auto request = BVFormDataRequest::requestWithURL(QUrl(site + QStringLiteral("/api/0/files/upload")));
        request->setPostValue(QStringLiteral("admin@velora.local"), QStringLiteral("username"));
        request->setPostValue(
            BVVelora::sha512(QStringLiteral("benchmark-password")), QStringLiteral("password"));
        request->setPostValue(QStringLiteral("-1"), QStringLiteral("project_id"));
        request->setPostValue(QStringLiteral("Baseline"), QStringLiteral("title"));
        request->setFile(path, QStringLiteral("file"));
        request->setShouldStreamPostDataFromDisk(true);
        request->setTimeOutSeconds(120);
        request->setDelegate(&outcome);
        request->setUploadProgressDelegate(&outcome);
        QCoreApplication::processEvents();
        const long idle = residentKiB();
        PeakSampler sampler;
        QElapsedTimer timer;
        timer.start();
        request->startAsynchronous();
        spinUntil([&] { return outcome.ended; });
        const qint64 ms = timer.elapsed();
        report("HTTP layer (baseline)", bytes, idle, sampler.stop(), ms, outcome);
    }

    // The client: login, queue, upload entry, progress to the delegate.
    {
        Outcome outcome;
        BVVelora velora(BVVelora::Program::Reelmark, &outcome);
        velora.setUsername(QStringLiteral("admin@velora.local"));
        velora.setPassword(QStringLiteral("benchmark-password"));
        velora.setVeloServerEnabled(true);
        velora.setVeloServerURLString(site);
        QCoreApplication::processEvents();
        const long idle = residentKiB();
        PeakSampler sampler;
        QElapsedTimer timer;
        timer.start();
        velora.uploadFile(path, -1, QStringLiteral("/"), QStringLiteral("Benchmark"));
        spinUntil([&] { return outcome.ended; });
        const qint64 ms = timer.elapsed();
        report("Velora client, own server", bytes, idle, sampler.stop(), ms, outcome);
        velora.setDelegate(nullptr);
    }
    server.terminate();
    server.waitForFinished(5000);
    return 0;
}
