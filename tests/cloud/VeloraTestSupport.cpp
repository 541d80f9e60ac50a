#include "VeloraTestSupport.h"

#include "common/BVTestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTcpServer>
#include <QUrl>

namespace {

// Every client in these tests keeps its login in the owner-only file of the test's HOME, never in
// a Secret Service the machine may have.
const bool g_fileStore = [] {
    qputenv("BV_CREDENTIAL_STORE", "file");
    return true;
}();

} // namespace

QList<VeloraCall> RecordingDelegate::named(const QString &name) const
{
    QList<VeloraCall> found;
    for (const VeloraCall &call : calls) {
        if (name.isEmpty() || call.name == name)
            found.append(call);
    }
    return found;
}

QStringList RecordingDelegate::names() const
{
    QStringList list;
    for (const VeloraCall &call : calls)
        list.append(call.name);
    return list;
}

bool RecordingDelegate::waitForCalls(int count, int milliseconds)
{
    return BVTest::waitFor([&] { return calls.size() >= count; }, std::chrono::milliseconds(milliseconds));
}

namespace VeloraTest {

std::unique_ptr<BVVelora> signedInClient(
    const QString &site, BVVeloraDelegate *delegate, BVVelora::Program program)
{
    (void)g_fileStore;
    auto velora = std::make_unique<BVVelora>(program, delegate);
    velora->setUsername(QStringLiteral("reviewer@example.com"));
    velora->setPassword(QStringLiteral("s3cret pass"));
    velora->setVeloServerEnabled(true);
    velora->setVeloServerURLString(site);
    return velora;
}

QMap<QString, QString> formPairs(const QByteArray &body)
{
    QMap<QString, QString> pairs;
    for (const QByteArray &pair : body.split('&')) {
        if (pair.isEmpty())
            continue;
        const qsizetype equals = pair.indexOf('=');
        const QByteArray key = equals < 0 ? pair : pair.left(equals);
        const QByteArray value = equals < 0 ? QByteArray() : pair.mid(equals + 1);
        pairs.insert(QString::fromUtf8(QByteArray::fromPercentEncoding(key)),
            QString::fromUtf8(QByteArray::fromPercentEncoding(value)));
    }
    return pairs;
}

QMap<QString, QByteArray> multipartFields(const QByteArray &body, const QByteArray &boundary)
{
    QMap<QString, QByteArray> fields;
    const QByteArray delimiter = "--" + boundary;
    qsizetype at = body.indexOf(delimiter);
    while (at >= 0) {
        qsizetype start = at + delimiter.size();
        if (body.mid(start, 2) == "--")
            break;
        start += 2; // CRLF
        const QByteArray separator = QByteArray("\r\n") + delimiter;
        const qsizetype next = body.indexOf(separator, start);
        if (next < 0)
            break;
        const QByteArray part = body.mid(start, next - start);
        const qsizetype headEnd = part.indexOf("\r\n\r\n");
        const QByteArray head = part.left(headEnd);
        static const QRegularExpression nameRe(QStringLiteral("name=\"([^\"]*)\""));
        const QString name = nameRe.match(QString::fromUtf8(head)).captured(1);
        fields.insert(name, part.mid(headEnd + 4));
        at = next + 2;
    }
    return fields;
}

int freePort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

VeloraServer::VeloraServer() = default;

VeloraServer::~VeloraServer()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(2000);
        }
    }
}

bool VeloraServer::start(QString *failure)
{
    const QString script = QStringLiteral(BV_SOURCE_DIR "/server/velora-server");
    if (!QFileInfo::exists(script)) {
        *failure = QStringLiteral("velora-server is not in this tree");
        return false;
    }
    m_data = BVTest::makeTempFolder(QStringLiteral("velora-data"));
    m_adminUser = QStringLiteral("admin@velora.local");
    m_adminPassword = QStringLiteral("Adm1n-test-password");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VELORA_ADMIN_PASSWORD"), m_adminPassword);
    environment.insert(QStringLiteral("VELORA_S3_ACCESS_KEY"), QStringLiteral("AKTESTSTORAGEKEY0001"));
    environment.insert(
        QStringLiteral("VELORA_S3_SECRET_KEY"), QStringLiteral("testsecretkeytestsecretkeytestsecretkey0"));
    m_process.setProcessEnvironment(environment);
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    const QString python = QFileInfo::exists(QStringLiteral("/usr/bin/python3"))
        ? QStringLiteral("/usr/bin/python3")
        : QStringLiteral("python3");
    m_process.start(python,
        {script, QStringLiteral("--data"), m_data, QStringLiteral("--port"), QStringLiteral("0"),
            QStringLiteral("--ws-port"), QStringLiteral("0")});
    static const QRegularExpression listening(
        QStringLiteral("listening on http://[^:]+:(\\d+) \\(WebSocket port (\\d+)\\)"));
    const bool up = BVTest::waitFor(
        [&] {
            m_output += QString::fromUtf8(m_process.readAll());
            const QRegularExpressionMatch match = listening.match(m_output);
            if (match.hasMatch()) {
                m_port = match.captured(1).toInt();
                m_wsPort = match.captured(2).toInt();
                return true;
            }
            return m_process.state() == QProcess::NotRunning;
        },
        std::chrono::seconds(30));
    if (!up || m_port == 0) {
        *failure = QStringLiteral("velora-server did not start: ") + m_output;
        return false;
    }
    return true;
}

} // namespace VeloraTest
