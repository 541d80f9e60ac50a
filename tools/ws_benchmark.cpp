// WebSocket echo benchmark: ROUNDS round trips of a 32-byte text message over loopback against the
// Node "ws" echo server of the tests, once with BVWebSocket and once with the Node "ws" client.
// Usage: bv_ws_benchmark [ROUNDS=10000] [REPEATS=3]
#include "cloud/BVWebSocket.h"
#include "cloud/BVWebSocketDelegate.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

QProcessEnvironment nodeEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("NODE_PATH"), QStringLiteral("/usr/share/nodejs"));
    return environment;
}

// Sends the next message from each echo, on the main thread, until all rounds are done.
class EchoDelegate : public BVWebSocketDelegate
{
public:
    EchoDelegate(int rounds, QEventLoop *loop)
        : m_rounds(rounds)
        , m_loop(loop)
    { }

    void webSocketDidOpen(BVWebSocket *socket) override
    {
        m_timer.start();
        socket->send(m_message);
    }
    void webSocketDidReceiveMessage(BVWebSocket *socket, const QVariant &) override
    {
        if (++m_done < m_rounds) {
            socket->send(m_message);
            return;
        }
        m_elapsedMs = double(m_timer.nsecsElapsed()) / 1e6;
        m_loop->quit();
    }
    void webSocketDidFailWithError(BVWebSocket *, const BVError &error) override
    {
        std::fprintf(stderr, "failed: %s\n", qPrintable(error.description()));
        m_loop->quit();
    }
    void webSocketDidCloseWithCode(BVWebSocket *, int code, const QString &, bool) override
    {
        if (m_done < m_rounds) {
            std::fprintf(stderr, "closed early with %d\n", code);
            m_loop->quit();
        }
    }

    double elapsedMs() const { return m_done >= m_rounds ? m_elapsedMs : -1; }

private:
    const QString m_message = QString(32, u'x');
    int m_rounds;
    int m_done = 0;
    QEventLoop *m_loop;
    QElapsedTimer m_timer;
    double m_elapsedMs = -1;
};

double runClient(quint16 port, int rounds)
{
    QEventLoop loop;
    EchoDelegate delegate(rounds, &loop);
    auto socket = std::make_shared<BVWebSocket>(QUrl(QStringLiteral("ws://127.0.0.1:%1/").arg(port)));
    socket->setDelegate(&delegate);
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    socket->open();
    loop.exec();
    socket->setDelegate(nullptr);
    socket->close();
    return delegate.elapsedMs();
}

double runNodeClient(quint16 port, int rounds)
{
    QProcess node;
    node.setProcessEnvironment(nodeEnvironment());
    node.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    node.start(QStringLiteral("node"),
        {QStringLiteral(BV_SOURCE_DIR "/tools/ws_bench_client.js"), QString::number(port),
            QString::number(rounds)});
    if (!node.waitForFinished(120000))
        return -1;
    const QString output = QString::fromUtf8(node.readAllStandardOutput());
    const qsizetype at = output.indexOf(QStringLiteral("ELAPSED_MS "));
    return at < 0 ? -1 : output.mid(at + 11).section(u'\n', 0, 0).toDouble();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 10000;
    const int repeats = argc > 2 ? std::max(1, atoi(argv[2])) : 3;

    QProcess server;
    server.setProcessEnvironment(nodeEnvironment());
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(QStringLiteral("node"), {QStringLiteral(BV_SOURCE_DIR "/tests/cloud/ws_test_server.js")});
    QByteArray banner;
    while (!banner.contains('\n') && server.waitForReadyRead(10000))
        banner += server.readAllStandardOutput();
    const quint16 port = quint16(banner.mid(banner.indexOf("PORT ") + 5).trimmed().toUInt());
    if (port == 0) {
        std::fprintf(stderr, "the Node ws server did not start\n");
        return 1;
    }

    runClient(port, 200); // warm-up of both sides
    runNodeClient(port, 200);
    std::vector<double> ours, theirs;
    for (int i = 0; i < repeats; ++i) {
        ours.push_back(runClient(port, rounds));
        theirs.push_back(runNodeClient(port, rounds));
        std::printf(
            "run %d: BVWebSocket %.1f ms, Node ws client %.1f ms\n", i + 1, ours.back(), theirs.back());
    }
    const double a = median(ours), b = median(theirs);
    std::printf("%d round trips of 32 bytes (median of %d runs):\n", rounds, repeats);
    std::printf("  BVWebSocket     %8.1f ms  %6.1f us/round trip\n", a, a * 1000 / rounds);
    std::printf("  Node ws client  %8.1f ms  %6.1f us/round trip\n", b, b * 1000 / rounds);
    std::printf("  ratio (BVWebSocket / Node) %.2f\n", a / b);
    server.kill();
    server.waitForFinished();
    return a > 0 && b > 0 ? 0 : 1;
}
