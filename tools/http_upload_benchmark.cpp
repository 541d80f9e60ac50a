// Uploads a generated file (200 MB by default) as a multipart form streamed from disk to a
// loopback server that discards what it reads, and prints the time, the progress reported and
// the process's peak memory (VmHWM) before and after.
#include "net/BVFormDataRequest.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>

namespace {

long vmHWMKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

struct Progress : BVHTTPRequestDelegate, BVHTTPUploadProgressDelegate
{
    qint64 sent = 0;
    int reports = 0;
    bool ended = false;
    void requestFinished(BVHTTPRequest *) override { ended = true; }
    void requestFailed(BVHTTPRequest *r) override
    {
        std::fprintf(stderr, "failed: %s\n", qPrintable(r->error().description()));
        ended = true;
    }
    void requestDidSendBytes(BVHTTPRequest *, qint64 bytes) override
    {
        sent += bytes;
        ++reports;
    }
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const qint64 megabytes = argc > 1 ? atoll(argv[1]) : 200;
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("upload.bin"));
    {
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        QByteArray block(1 << 20, 'r');
        for (qint64 i = 0; i < megabytes; ++i)
            file.write(block);
    }

    // Loopback server: reads the request, discards it, answers once the whole body has arrived.
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address);
    listen(listener, 1);
    socklen_t length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length);
    std::atomic<qint64> received {0};
    std::thread server([&] {
        const int client = accept(listener, nullptr, nullptr);
        std::vector<char> buffer(1 << 20);
        QByteArray head;
        qint64 expected = -1, body = 0;
        for (;;) {
            const ssize_t got = read(client, buffer.data(), buffer.size());
            if (got <= 0)
                break;
            received += got;
            if (expected < 0) {
                head.append(buffer.data(), got);
                const qsizetype end = head.indexOf("\r\n\r\n");
                if (end < 0)
                    continue;
                const qsizetype at = head.toLower().indexOf("content-length:");
                expected = head.mid(at + 15, head.indexOf('\r', at) - at - 15).trimmed().toLongLong();
                body = head.size() - end - 4;
            } else {
                body += got;
            }
            if (body >= expected) {
                const char reply[] = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";
                write(client, reply, sizeof reply - 1);
                break;
            }
        }
        close(client);
    });

    const long before = vmHWMKiB();
    auto request = BVFormDataRequest::requestWithURL(
        QUrl(QStringLiteral("http://127.0.0.1:%1/api/0/files/upload").arg(ntohs(address.sin_port))));
    request->setPostValue(QStringLiteral("benchmark"), QStringLiteral("title"));
    request->setFile(path, QStringLiteral("file"));
    request->setShouldStreamPostDataFromDisk(true);
    request->setTimeOutSeconds(120);
    Progress progress;
    request->setDelegate(&progress);
    request->setUploadProgressDelegate(&progress);
    QElapsedTimer timer;
    timer.start();
    request->startAsynchronous();
    while (!progress.ended)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const double seconds = timer.nsecsElapsed() / 1e9;
    server.join();
    close(listener);
    const long after = vmHWMKiB();

    std::printf("file %lld MB, body %lld bytes, status %d, %.2f s (%.0f MB/s)\n", megabytes,
        request->postLength(), request->responseStatusCode(), seconds, megabytes / seconds);
    std::printf("progress: %lld bytes in %d reports (%s the body size)\n", progress.sent, progress.reports,
        progress.sent == request->postLength() ? "equal to" : "DIFFERENT from");
    std::printf("server received %lld bytes\n", received.load());
    std::printf(
        "VmHWM before upload %ld KiB, after %ld KiB (growth %ld KiB)\n", before, after, after - before);
    return request->error().isNull() && progress.sent == request->postLength() ? 0 : 1;
}
