#include "BVTestHTTPServer.h"
#include "common/BVTestSupport.h"

#include "net/BVFormDataRequest.h"
#include "net/BVHTTPRequest.h"
#include "support/BVMainThread.h"
#include "support/BVWorkQueue.h"

#include "BVNetTestPrinters.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>

#include <zlib.h>

namespace {

using namespace std::chrono_literals;
using Reply = BVTestHTTPServer::Reply;

// Records the callbacks of a request and the thread they came on.
struct Recorder : BVHTTPRequestDelegate, BVHTTPUploadProgressDelegate
{
    int finished = 0;
    int failed = 0;
    qint64 sent = 0;
    int progressReports = 0;
    bool allOnMainThread = true;

    void requestFinished(BVHTTPRequest *) override { note(finished); }
    void requestFailed(BVHTTPRequest *) override { note(failed); }
    void requestDidSendBytes(BVHTTPRequest *, qint64 bytes) override
    {
        sent += bytes;
        note(progressReports);
    }
    void note(int &counter)
    {
        ++counter;
        allOnMainThread = allOnMainThread && BVMainThread::isMainThread();
    }
    bool ended() const { return finished + failed > 0; }
};

bool runRequest(const std::shared_ptr<BVHTTPRequest> &request, Recorder &recorder,
    std::chrono::milliseconds timeout = 20s)
{
    request->setDelegate(&recorder);
    request->setUploadProgressDelegate(&recorder);
    request->startAsynchronous();
    return BVTest::waitFor([&] { return recorder.ended(); }, timeout);
}

QByteArray gzip(const QByteArray &data)
{
    z_stream stream {};
    deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&stream, uLong(data.size()))), '\0');
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return out;
}

QString writePatternFile(const QString &path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    QByteArray block(1 << 20, '\0');
    for (int i = 0; i < block.size(); ++i)
        block[i] = char((i * 7 + i / 251) & 0xFF);
    for (qint64 left = size; left > 0; left -= block.size())
        file.write(block.constData(), std::min<qint64>(left, block.size()));
    return path;
}

} // namespace

TEST(HTTPRequest, MultipartUploadStreamsTheFileAndReportsProgressToItsSize)
{
    BVTestHTTPServer server([](const auto &) { return Reply {200, {}, "{\"ok\":true}"}; });
    const qint64 size = 20 * 1024 * 1024;
    const QString path = writePatternFile(BVTest::makeTempFolder() + QStringLiteral("/Reel 1.txt"), size);
    auto request = BVFormDataRequest::requestWithURL(server.url("/api/0/files/upload"));
    request->setPostValue(QStringLiteral("first"), QStringLiteral("title"));
    request->setPostValue(42, QStringLiteral("project_id"));
    request->setPostValue(QStringLiteral("Scène 1"), QStringLiteral("title")); // replaces, moves to the end
    request->setFile(path, QStringLiteral("file"));
    request->setShouldStreamPostDataFromDisk(true);
    Recorder recorder;
    ASSERT_TRUE(runRequest(request, recorder));
    ASSERT_EQ(recorder.finished, 1) << request->error().description().toStdString();
    EXPECT_EQ(request->responseStatusCode(), 200);
    EXPECT_EQ(request->responseString(), QStringLiteral("{\"ok\":true}"));
    EXPECT_TRUE(recorder.allOnMainThread);

    ASSERT_EQ(server.requests().size(), 1);
    const auto &received = server.requests().first();
    const QByteArray boundary = request->boundary().toUtf8();
    EXPECT_TRUE(boundary.startsWith("0xKhTmLbOuNdArY-"));
    EXPECT_EQ(boundary.size(), 16 + 36);
    EXPECT_EQ(received.method, "POST");
    EXPECT_EQ(
        received.headers.value("content-type"), "multipart/form-data; charset=utf-8; boundary=" + boundary);
    QByteArray expected = "--" + boundary + "\r\n";
    expected += "Content-Disposition: form-data; name=\"project_id\"\r\n\r\n42\r\n--" + boundary + "\r\n";
    expected
        += "Content-Disposition: form-data; name=\"title\"\r\n\r\nSc\xc3\xa8ne 1\r\n--" + boundary + "\r\n";
    expected += "Content-Disposition: form-data; name=\"file\"; filename=\"Reel 1.txt\"\r\n";
    expected += "Content-Type: text/plain\r\n\r\n";
    expected += BVTest::readFile(path);
    expected += "\r\n--" + boundary + "--\r\n";
    EXPECT_EQ(received.body.size(), expected.size());
    EXPECT_TRUE(received.body == expected);

    // Every body byte reported once, in a bounded number of reports.
    EXPECT_EQ(recorder.sent, expected.size());
    EXPECT_EQ(request->postLength(), expected.size());
    EXPECT_GT(recorder.progressReports, 0);
    EXPECT_LT(recorder.progressReports, 1000);
}

TEST(HTTPRequest, FormWithoutFilesIsURLEncodedByteForByte)
{
    BVTestHTTPServer server;
    auto request = BVFormDataRequest::requestWithURL(server.url("/form"));
    request->setPostValue(
        QString::fromUtf8(":/?#[]@!$ &'()*+,;=\"<>%{}|\\^~`\xc3\xa9-_.09aZ"), QStringLiteral("a b"));
    request->setPostValue(QStringLiteral("x"), QStringLiteral("k"));
    Recorder recorder;
    ASSERT_TRUE(runRequest(request, recorder));
    ASSERT_EQ(recorder.finished, 1);
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_EQ(server.requests()[0].headers.value("content-type"),
        "application/x-www-form-urlencoded; charset=utf-8");
    EXPECT_EQ(server.requests()[0].body,
        "a%20b=%3A%2F%3F%23%5B%5D%40%21%24%20%26%27%28%29%2A%2B%2C%3B%3D%22%3C%3E"
        "%25%7B%7D%7C%5C%5E%7E%60%C3%A9-_.09aZ&k=x");
}

TEST(HTTPRequest, FilePartsAreTypedByExtension)
{
    EXPECT_EQ(BVFormDataRequest::mimeTypeForFileAtPath(QStringLiteral("/x/notes.txt")),
        QStringLiteral("text/plain"));
    EXPECT_EQ(BVFormDataRequest::mimeTypeForFileAtPath(QStringLiteral("/x/blob.zzqx")),
        QStringLiteral("application/octet-stream"));
}

TEST(HTTPRequest, MissingUploadFileFailsBeforeSending)
{
    BVTestHTTPServer server;
    auto request = BVFormDataRequest::requestWithURL(server.url("/upload"));
    const QString missing = BVTest::makeTempFolder() + QStringLiteral("/gone.mov");
    request->setFile(missing, QStringLiteral("file"));
    Recorder recorder;
    ASSERT_TRUE(runRequest(request, recorder));
    EXPECT_EQ(recorder.failed, 1);
    EXPECT_EQ(request->error().domain(), BVHTTPRequest::errorDomain);
    EXPECT_EQ(request->error().localizedDescription(), QStringLiteral("No file exists at ") + missing);
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST(HTTPRequest, TimedOutRequestIsRetriedThenFails)
{
    BVTestHTTPServer server([](const auto &) { return Reply {200, {}, {}, true}; });
    auto request = BVFormDataRequest::requestWithURL(server.url("/slow"));
    request->setPostValue(QStringLiteral("v"), QStringLiteral("k"));
    request->setTimeOutSeconds(0.4);
    request->setNumberOfTimesToRetryOnTimeout(2);
    Recorder recorder;
    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(runRequest(request, recorder));
    EXPECT_EQ(recorder.failed, 1);
    EXPECT_EQ(request->error().code(), 2);
    EXPECT_EQ(request->error().localizedDescription(), QStringLiteral("The request timed out"));
    EXPECT_EQ(request->retryCount(), 2);
    EXPECT_EQ(server.requests().size(), 3);
    EXPECT_GE(timer.elapsed(), 1200);
    EXPECT_EQ(recorder.sent, request->postLength()); // abandoned attempts are given back, the last one stays
}

TEST(HTTPRequest, SixthRedirectFailsWithCodeNine)
{
    for (int redirects : {5, 6}) {
        SCOPED_TRACE(redirects);
        BVTestHTTPServer server([redirects](const BVTestHTTPServer::Request &r) {
            const int step = r.target.mid(3).toInt();
            if (step < redirects)
                return Reply {302, {{"Location", "/r/" + QByteArray::number(step + 1)}}, {}};
            return Reply {200, {}, "arrived"};
        });
        auto request = BVHTTPRequest::requestWithURL(server.url("/r/0"));
        Recorder recorder;
        ASSERT_TRUE(runRequest(request, recorder));
        if (redirects == 5) {
            EXPECT_EQ(recorder.finished, 1);
            EXPECT_EQ(request->responseString(), QStringLiteral("arrived"));
            EXPECT_EQ(request->redirectCount(), 5);
        } else {
            EXPECT_EQ(recorder.failed, 1);
            EXPECT_EQ(request->error().code(), 9);
            EXPECT_EQ(request->error().localizedDescription(),
                QStringLiteral("The request failed because it redirected too many times"));
            EXPECT_EQ(server.requests().size(), 6);
        }
    }
}

TEST(HTTPRequest, GzipReplyIsInflatedAndHeadersIdentifyTheProgram)
{
    const QByteArray text = QByteArray("{\"files\":[1,2,3]} ").repeated(1000);
    BVTestHTTPServer server([&](const auto &) {
        return Reply {200, {{"Content-Encoding", "gzip"}}, gzip(text)};
    });
    auto request = BVHTTPRequest::requestWithURL(server.url("/gz"));
    Recorder recorder;
    ASSERT_TRUE(runRequest(request, recorder));
    ASSERT_EQ(recorder.finished, 1);
    EXPECT_EQ(request->responseData(), text);
    const auto &headers = server.requests().value(0).headers;
    EXPECT_EQ(headers.value("accept-encoding"), "gzip");
    EXPECT_EQ(headers.value("user-agent"), BVHTTPRequest::defaultUserAgentString().toUtf8());
    EXPECT_TRUE(headers.value("user-agent").startsWith("Reelmark "))
        << headers.value("user-agent").constData();
    EXPECT_TRUE(headers.value("user-agent").contains(" (Linux; ")) << headers.value("user-agent").constData();
}

TEST(HTTPRequest, ReceivedDataIsHandedOverInsteadOfCollected)
{
    const QByteArray text(300000, 'x');
    BVTestHTTPServer server([&](const auto &) { return Reply {200, {}, text}; });
    auto request = BVHTTPRequest::requestWithURL(server.url("/data"));
    QByteArray handedOver;
    request->setDidReceiveDataSelector(
        [&](BVHTTPRequest *, const QByteArray &bytes) { handedOver += bytes; });
    Recorder recorder;
    ASSERT_TRUE(runRequest(request, recorder));
    EXPECT_EQ(handedOver, text);
    EXPECT_TRUE(request->responseData().isEmpty());
}

TEST(HTTPRequest, FailuresCarryTheLayerCodes)
{
    BVTestHTTPServer server([](const auto &) { return Reply {401, {}, "who?"}; });
    struct Case
    {
        QUrl url;
        int code;
        const char *message;
    };
    const Case cases[] = {
        {server.url("/private"), 3, "Authentication needed"},
        {QUrl(QStringLiteral("ftp://127.0.0.1/x")), 5, "Unable to create request (bad url?)"},
        {QUrl(QStringLiteral("not a url")), 5, "Unable to create request (bad url?)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.url.toString().toStdString());
        auto request = BVHTTPRequest::requestWithURL(c.url);
        Recorder recorder;
        ASSERT_TRUE(runRequest(request, recorder));
        EXPECT_EQ(recorder.failed, 1);
        EXPECT_EQ(request->error().code(), c.code);
        EXPECT_EQ(request->error().localizedDescription(), QString::fromLatin1(c.message));
    }
}

TEST(HTTPRequest, CancellingFailsTheRequestOnceWithCodeFour)
{
    BVTestHTTPServer server([](const auto &) { return Reply {200, {}, {}, true}; });
    // Running: the hanging request is cancelled from another thread.
    auto running = BVHTTPRequest::requestWithURL(server.url("/hang"));
    Recorder runningRecorder;
    running->setDelegate(&runningRecorder);
    running->startAsynchronous();
    ASSERT_TRUE(BVTest::waitFor([&] { return server.requests().size() == 1; }));
    BVWorkQueue other(QStringLiteral("canceller"));
    other.sync([&] { running->cancel(); });
    ASSERT_TRUE(BVTest::waitFor([&] { return runningRecorder.ended(); }));
    EXPECT_EQ(runningRecorder.failed, 1);
    EXPECT_EQ(running->error().code(), 4);
    EXPECT_EQ(running->error().localizedDescription(), QStringLiteral("The request was cancelled"));

    // Queued but not started: fails at once; the queue's job then does nothing.
    BVWorkQueue queue(QStringLiteral("uploads"));
    auto blocker = BVHTTPRequest::requestWithURL(server.url("/hang"));
    auto queued = BVHTTPRequest::requestWithURL(server.url("/never"));
    Recorder blockerRecorder, queuedRecorder;
    blocker->setDelegate(&blockerRecorder);
    queued->setDelegate(&queuedRecorder);
    blocker->addToQueue(queue);
    queued->addToQueue(queue);
    queued->cancel();
    blocker->cancel();
    queue.waitUntilEmpty();
    EXPECT_TRUE(BVTest::waitFor([&] { return queuedRecorder.failed == 1 && blockerRecorder.failed == 1; }));
    EXPECT_EQ(queuedRecorder.failed, 1);
    EXPECT_EQ(queued->error().code(), 4);
    EXPECT_EQ(blockerRecorder.failed, 1);
    for (const auto &r : server.requests())
        EXPECT_NE(r.target, "/never");

    // An owner on its way out hears nothing more.
    auto silent = BVHTTPRequest::requestWithURL(server.url("/hang"));
    Recorder silentRecorder;
    silent->setDelegate(&silentRecorder);
    silent->startAsynchronous();
    silent->clearDelegatesAndCancel();
    silent->waitUntilComplete();
    // No callback may come: a fixed time, since the check is that nothing comes.
    BVTest::spin(100ms);
    EXPECT_FALSE(silentRecorder.ended());
}

TEST(HTTPRequest, SynchronousJobsOnAQueueRunInOrder)
{
    BVTestHTTPServer server([](const BVTestHTTPServer::Request &r) { return Reply {200, {}, r.target}; });
    BVWorkQueue queue(QStringLiteral("client"));
    std::vector<std::shared_ptr<BVHTTPRequest>> requests;
    Recorder recorder;
    for (int i = 0; i < 4; ++i) {
        requests.push_back(BVHTTPRequest::requestWithURL(server.url("/n/" + QByteArray::number(i))));
        requests.back()->setDelegate(&recorder);
        requests.back()->addToQueue(queue);
    }
    ASSERT_TRUE(BVTest::waitFor([&] { return recorder.finished == 4; }));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(server.requests()[i].target, "/n/" + QByteArray::number(i));
    EXPECT_TRUE(recorder.allOnMainThread);
}
