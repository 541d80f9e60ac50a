// Usage reporting against an endpoint the test starts on 127.0.0.1: consent from the second
// launch, at most one upload a day, events kept after a failed upload, and the multipart body.
// Each BVQC made here is one launch of the program.
#include "app/BVQC.h"
#include "app/BVSoftwareUpdate.h"
#include "platform/defaults/BVPropertyList.h"
#include "platform/defaults/BVUserDefaults.h"
#include "support/BVLocalPaths.h"

#include "common/BVTestSupport.h"
#include "net/BVTestHTTPServer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

const QString bundle = QStringLiteral("com.brightvane.Reelmark");

BVUserDefaults *defaults()
{
    return BVUserDefaults::standardUserDefaults();
}

QString cachePath()
{
    return BVLocalPaths::cacheDirectory(true) + QStringLiteral("/Brightvane/QC/") + bundle;
}

// Answers the consent question, when one is shown, with the button of the given title; records
// what it saw.
class ConsentAnswer : public QObject
{
public:
    explicit ConsentAnswer(QString button)
        : m_button(std::move(button))
    {
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] {
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                auto *box = qobject_cast<QMessageBox *>(widget);
                if (!box || !box->isVisible())
                    continue;
                ++asked;
                title = box->text();
                text = box->informativeText();
                buttons.clear();
                for (QAbstractButton *b : box->buttons())
                    buttons.append(b->text());
                for (QAbstractButton *b : box->buttons())
                    if (b->text() == m_button) {
                        b->click();
                        return;
                    }
            }
        });
        m_timer.start();
    }
    void stop() { m_timer.stop(); }
    int asked = 0;
    QString title;
    QString text;
    QStringList buttons;

private:
    QString m_button;
    QTimer m_timer;
};

class UsageReport : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const char *key : {"launchCount", "lastSubmission", "lastOSVersion", "qcEndpointURL"})
            defaults()->removeObjectForKey(QString::fromLatin1(key));
        QFile::remove(BVPropertyList::qcPreferencesPath());
        QFile::remove(cachePath());
        defaults()->setString(QString::fromLatin1(server.url("/appdata/qc/qc.php").toEncoded()),
            QStringLiteral("qcEndpointURL"));
        BVQC::setURLOpener([this](const QUrl &url) { opened.append(url); });
        server.setHandler([this](const BVTestHTTPServer::Request &) {
            BVTestHTTPServer::Reply reply;
            reply.status = status;
            reply.body = "ok";
            return reply;
        });
    }

    // One launch: the reporter is made, asks (answered with `button`) and uploads when due.
    int launch(const QString &button = QStringLiteral("Allow"))
    {
        ConsentAnswer answer(button);
        BVQC qc(bundle);
        qc.loadQC(nullptr);
        // The upload runs on the reporter's queue; the endpoint answers on this thread.
        const qsizetype before = server.requests().size();
        BVTest::waitFor([&] { return server.requests().size() > before; }, std::chrono::milliseconds(600));
        BVTest::spin(std::chrono::milliseconds(100));
        qc.waitUntilIdle();
        lastCache = qc.cache();
        return answer.asked;
    }

    QVariantMap preferences() const
    {
        return BVPropertyList::readDictionary(BVPropertyList::qcPreferencesPath());
    }
    static bool cacheFileExists() { return QFile::exists(cachePath()); }

    BVTestHTTPServer server;
    int status = 200;
    QList<QUrl> opened;
    QVariantList lastCache;
};

// The parts of a multipart body, read with the boundary of its Content-Type.
QList<std::pair<QString, QByteArray>> parts(const BVTestHTTPServer::Request &request, QByteArray *closing)
{
    const QByteArray type = request.headers.value("content-type");
    const QByteArray boundary = type.mid(type.indexOf("boundary=") + 9);
    QList<std::pair<QString, QByteArray>> result;
    const QByteArray delimiter = "--" + boundary + "\r\n";
    QByteArray body = request.body;
    *closing = body.right(boundary.size() + 6);
    qsizetype at = 0;
    while (body.mid(at, delimiter.size()) == delimiter) {
        at += delimiter.size();
        const qsizetype headEnd = body.indexOf("\r\n\r\n", at);
        const QByteArray head = body.mid(at, headEnd - at);
        const qsizetype next = body.indexOf(QByteArray("\r\n--" + boundary), headEnd + 4);
        const QByteArray name = head.mid(head.indexOf("name=\"") + 6).chopped(1);
        result.append({QString::fromUtf8(name), body.mid(headEnd + 4, next - headEnd - 4)});
        at = next + 2;
    }
    return result;
}

QString osReleaseVersion()
{
    for (const QByteArray &line : BVTest::readFile(QStringLiteral("/etc/os-release")).split('\n'))
        if (line.startsWith("VERSION_ID="))
            return QString::fromUtf8(line.mid(11)).remove(u'"');
    return {};
}

} // namespace

TEST_F(UsageReport, ConsentIsAskedFromTheSecondLaunchAndDontAllowSendsNothing)
{
    EXPECT_EQ(launch(), 0) << "no question at the first launch";
    EXPECT_FALSE(preferences().contains(QStringLiteral("logQC")));

    // Second launch: the question; "More Info" opens the page and decides nothing.
    auto probe = std::make_unique<ConsentAnswer>(QStringLiteral("More Info"));
    {
        BVQC qc(bundle);
        qc.loadQC(nullptr);
    }
    probe->stop();
    EXPECT_EQ(probe->title,
        QStringLiteral("Help improve Brightvane software by submitting analytics and usage data"));
    EXPECT_EQ(probe->text,
        QStringLiteral(
            "This information helps us find problems and improve our software. It is anonymous and "
            "cannot be used to identify you."));
    EXPECT_TRUE(probe->buttons.contains(QStringLiteral("Allow")));
    EXPECT_TRUE(probe->buttons.contains(QStringLiteral("Don't Allow")));
    ASSERT_EQ(opened.size(), 1);
    EXPECT_TRUE(
        opened[0].path().endsWith(QStringLiteral("/support/posts/app_analytics_and_usage_data.html")));
    EXPECT_FALSE(preferences().contains(QStringLiteral("logQC")));

    EXPECT_EQ(launch(QStringLiteral("Don't Allow")), 1) << "asked again after More Info";
    EXPECT_EQ(preferences().value(QStringLiteral("logQC")), QVariant(false));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(launch(), 0) << "the answer stands";
    EXPECT_TRUE(server.requests().isEmpty());
    EXPECT_FALSE(cacheFileExists());
}

TEST_F(UsageReport, OneUploadADayOfTheCachedEventsInTheMultipartBody)
{
    launch();
    EXPECT_EQ(launch(QStringLiteral("Allow")), 1);
    EXPECT_EQ(preferences().value(QStringLiteral("logQC")), QVariant(true));
    launch(); // third launch, within a minute of the second: no second launch event, no upload yet
    EXPECT_TRUE(server.requests().isEmpty());
    ASSERT_EQ(lastCache.size(), 2);
    EXPECT_TRUE(cacheFileExists());

    launch(); // fourth: the first upload
    ASSERT_EQ(server.requests().size(), 1);
    const BVTestHTTPServer::Request &request = server.requests()[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/appdata/qc/qc.php");
    const QByteArray type = request.headers.value("content-type");
    EXPECT_TRUE(QRegularExpression(
        QStringLiteral("^multipart/form-data; boundary=[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-"
                       "[0-9A-F]{4}-[0-9A-F]{12}$"))
                    .match(QString::fromLatin1(type))
                    .hasMatch())
        << type.data();
    QByteArray closing;
    const auto fields = parts(request, &closing);
    EXPECT_EQ(closing, "--" + type.mid(type.indexOf("boundary=") + 9) + "--\r\n");
    ASSERT_EQ(fields.size(), 4);
    EXPECT_EQ(fields[0].first, QStringLiteral("uid"));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[a-zA-Z0-9]{12}$"))
                    .match(QString::fromLatin1(fields[0].second))
                    .hasMatch());
    EXPECT_EQ(fields[0].second, preferences().value(QStringLiteral("uid")).toString().toLatin1());
    EXPECT_EQ(fields[1], std::make_pair(QStringLiteral("app"), bundle.toLatin1()));
    EXPECT_EQ(fields[2].first, QStringLiteral("version"));
    EXPECT_FALSE(fields[2].second.isEmpty());
    EXPECT_EQ(fields[3].first, QStringLiteral("events"));
    const QJsonArray events = QJsonDocument::fromJson(fields[3].second).array();
    ASSERT_EQ(events.size(), 2);
    EXPECT_EQ(events[0].toObject().value(QStringLiteral("event")).toString(), QStringLiteral("launch"));
    EXPECT_NEAR(events[0].toObject().value(QStringLiteral("date")).toDouble(),
        double(QDateTime::currentSecsSinceEpoch()), 60);
    EXPECT_EQ(events[1].toObject().value(QStringLiteral("event")).toString(), QStringLiteral("specs"));
    EXPECT_TRUE(events[1].toObject().value(QStringLiteral("data")).toString().startsWith(osReleaseVersion()))
        << "the system version of /etc/os-release";
    EXPECT_FALSE(cacheFileExists()) << "sent and answered: the cache is empty";

    launch(); // the same day: nothing
    EXPECT_EQ(server.requests().size(), 1);
    // A day later the next upload goes; the identifier is kept.
    defaults()->setObject(
        QDateTime::currentDateTimeUtc().addSecs(-86401 - 60), QStringLiteral("lastSubmission"));
    launch();
    ASSERT_EQ(server.requests().size(), 2);
    QByteArray unused;
    EXPECT_EQ(parts(server.requests()[1], &unused)[0].second, fields[0].second);
}

TEST_F(UsageReport, AFailedUploadKeepsTheEventsForTheNextDay)
{
    launch();
    launch(QStringLiteral("Allow"));
    status = 500;
    defaults()->setInteger(3, QStringLiteral("launchCount")); // the next launch is the fourth
    launch();
    ASSERT_EQ(server.requests().size(), 1);
    ASSERT_TRUE(cacheFileExists()) << "a 500 reply empties nothing";
    EXPECT_EQ(BVPropertyList::read(cachePath())->toList().size(), 2);
    defaults()->removeObjectForKey(QStringLiteral("launchCount"));
    defaults()->setInteger(5, QStringLiteral("launchCount"));

    launch(); // the same day: no second attempt
    EXPECT_EQ(server.requests().size(), 1);

    status = 200;
    defaults()->setObject(
        QDateTime::currentDateTimeUtc().addSecs(-86401 - 120), QStringLiteral("lastSubmission"));
    launch();
    ASSERT_EQ(server.requests().size(), 2);
    QByteArray closing;
    const auto fields = parts(server.requests()[1], &closing);
    ASSERT_EQ(fields.size(), 4);
    const QJsonArray events = QJsonDocument::fromJson(fields[3].second).array();
    EXPECT_GE(events.size(), 2) << "the events of the failed upload went with this one";
    EXPECT_EQ(
        QJsonDocument::fromJson(QByteArray(parts(server.requests()[0], &closing)[3].second)).array().first(),
        events.first());
    EXPECT_FALSE(cacheFileExists());
}

TEST_F(UsageReport, NothingIsSentWhenTheEndpointSettingIsEmpty)
{
    defaults()->setString(QString(), QStringLiteral("qcEndpointURL"));
    launch();
    launch(QStringLiteral("Allow"));
    defaults()->setInteger(5, QStringLiteral("launchCount"));
    launch();
    EXPECT_TRUE(server.requests().isEmpty());
    EXPECT_TRUE(cacheFileExists()) << "the events wait for an endpoint";
}

TEST(SoftwareUpdate, RunsOnlyAConfiguredUpdaterOutsideTheSharedTemporaryFolder)
{
    QList<std::pair<QString, QStringList>> runs;
    BVSoftwareUpdate::setRunner([&](const QString &path, const QStringList &arguments) {
        runs.append({path, arguments});
    });
    auto makeProgram = [](const QString &folder) {
        const QString path = folder + QStringLiteral("/updater");
        BVTest::writeFile(path, "#!/bin/sh\nexit 0\n");
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    };
    // The test's HOME lies in the temporary folder itself: the site's updater sits in the build folder.
    QDir().mkpath(QStringLiteral(BV_BINARY_DIR "/test-updater"));
    const QString own = makeProgram(QStringLiteral(BV_BINARY_DIR "/test-updater"));
    QTemporaryDir shared(QStringLiteral("/tmp/updater-XXXXXX"));
    const QString inTemp = makeProgram(shared.path());

    // None set: the menu command says where updates come from and runs nothing.
    defaults()->removeObjectForKey(QStringLiteral("softwareUpdateProgram"));
    ConsentAnswer ok(QStringLiteral("OK"));
    BVSoftwareUpdate::manualUpdateCheck(nullptr);
    EXPECT_EQ(ok.title, BVSoftwareUpdate::noUpdaterTitle());
    EXPECT_TRUE(ok.text.contains(QStringLiteral("package manager")));
    EXPECT_FALSE(BVSoftwareUpdate::automaticallyCheckForUpdates());

    struct Case
    {
        QString program;
        bool runs;
    };
    const Case cases[] = {{own, true}, {inTemp, false}, {own + QStringLiteral(".missing"), false}};
    for (const Case &c : cases) {
        runs.clear();
        defaults()->setString(c.program, QStringLiteral("softwareUpdateProgram"));
        EXPECT_EQ(BVSoftwareUpdate::automaticallyCheckForUpdates(), c.runs) << c.program.toStdString();
        ASSERT_EQ(runs.size(), c.runs ? 1 : 0) << c.program.toStdString();
        if (c.runs) {
            EXPECT_EQ(runs[0].first, c.program);
            EXPECT_EQ(runs[0].second,
                QStringList({QStringLiteral("-checkpath"), QCoreApplication::applicationFilePath()}));
        }
    }
    defaults()->removeObjectForKey(QStringLiteral("softwareUpdateProgram"));
    BVSoftwareUpdate::setRunner([](const QString &, const QStringList &) {});
}
