// prefsync against the reference server on 127.0.0.1, with stand-in applications found through
// desktop entries of the test HOME and a private session bus: what each run tells the user and
// what it leaves in the preference file.
#include "prefsync/BVPrefSync.h"

#include "PrivateBus.h"
#include "cloud/VeloraTestSupport.h"
#include "common/BVTestSupport.h"
#include "support/BVBundle.h"
#include "support/BVLocalPaths.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>

using namespace std::chrono_literals;

namespace {

const QString kIdentifier = QStringLiteral("com.brightvane.PrefsTest");
const QString kName = QStringLiteral("Prefs Test");

const auto *g_bus = ::testing::AddGlobalTestEnvironment(new PrivateBus);

struct Alert
{
    QString title;
    QString text;
    bool operator==(const Alert &other) const = default;
};

void PrintTo(const Alert &alert, std::ostream *out)
{
    *out << '"' << alert.title.toStdString() << "\" / \"" << alert.text.toStdString() << '"';
}

QList<Alert> said(const QString &title, const QString &text)
{
    return {Alert {title, text}};
}

// Dismisses every alert with its first button, noting what it said.
class AlertRecorder
{
public:
    AlertRecorder()
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                auto *box = qobject_cast<QMessageBox *>(w);
                if (!box || !box->isVisible() || box->buttons().isEmpty())
                    continue;
                alerts.append({box->text(), box->informativeText()});
                box->buttons().constFirst()->click();
            }
        });
        m_timer.start(10);
    }
    QList<Alert> alerts;

private:
    QTimer m_timer;
};

class Prefsync : public ::testing::Test
{
protected:
    void SetUp() override
    {
        BVBundle::setMainBundle(BVBundle::prefsync());
        qputenv("XDG_DATA_DIRS", BVTest::makeTempFolder(QStringLiteral("system-data")).toUtf8());
        prefs = BVPrefSync::preferenceFilePath(kIdentifier);
        QDir().mkpath(QFileInfo(prefs).absolutePath());
        installApplication(kName);
    }
    void TearDown() override
    {
        // Instances a restore started again.
        for (const QByteArray &line : logLines()) {
            if (line.startsWith("launched "))
                ::kill(line.mid(9).toInt(), SIGTERM);
        }
        for (QProcess *process : running) {
            process->kill();
            process->waitForFinished(2000);
            delete process;
        }
    }

    QString applicationFolder() const
    {
        return qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/applications");
    }
    QString logPath() const { return BVTest::homeDirectory() + QStringLiteral("/prefstest.log"); }
    QList<QByteArray> logLines() const { return BVTest::readFile(logPath()).split('\n'); }
    int count(const QByteArray &prefix) const
    {
        int n = 0;
        for (const QByteArray &line : logLines())
            n += line.startsWith(prefix) ? 1 : 0;
        return n;
    }

    QStringList testAppCommand(const QString &mode = {}) const
    {
        QStringList command {QStringLiteral(BV_PREFS_TEST_APP), QStringLiteral("--id"), kIdentifier,
            QStringLiteral("--prefs"), prefs, QStringLiteral("--log"), logPath()};
        if (!mode.isEmpty())
            command << mode;
        return command;
    }
    void installApplication(const QString &name, const QString &mode = {})
    {
        QDir().mkpath(applicationFolder());
        QByteArray entry = "[Desktop Entry]\nType=Application\n";
        if (!name.isNull())
            entry += "Name=" + name.toUtf8() + '\n';
        QStringList quoted;
        for (const QString &word : testAppCommand(mode))
            quoted << QLatin1Char('"') + word + QLatin1Char('"');
        entry += "Exec=" + quoted.join(QLatin1Char(' ')).toUtf8() + '\n';
        ASSERT_TRUE(BVTest::writeFile(
            applicationFolder() + QLatin1Char('/') + kIdentifier + QStringLiteral(".desktop"), entry));
    }

    // Stores the login as Reelmark's client does.
    void storeLogin(const QString &site, const QString &user, const QString &password)
    {
        BVVelora reelmark(BVVelora::Program::Reelmark, nullptr);
        reelmark.setUsername(user);
        reelmark.setPassword(password);
        reelmark.setVeloServerEnabled(true);
        reelmark.setVeloServerURLString(site);
        reelmark.saveSettings();
    }
    void startServer()
    {
        QString failure;
        ASSERT_TRUE(server.start(&failure)) << failure.toStdString();
        storeLogin(server.siteURL() + QLatin1Char('/'), server.adminUser(), server.adminPassword());
    }

    QList<Alert> runTool(const QStringList &arguments, std::chrono::milliseconds terminationTimeout = 15s)
    {
        AlertRecorder recorder;
        BVPrefSync tool(QStringList {QStringLiteral("prefsync")} + arguments);
        tool.setTerminationTimeout(terminationTimeout);
        bool finished = false;
        QObject::connect(&tool, &BVPrefSync::finished, [&] { finished = true; });
        tool.applicationDidFinishLaunching();
        EXPECT_TRUE(BVTest::waitFor([&] { return finished; }, 40s)) << arguments.join(' ').toStdString();
        return recorder.alerts;
    }

    QProcess *startRunningApplication(const QString &mode = {})
    {
        QStringList command = testAppCommand(mode);
        auto *process = new QProcess;
        running.append(process);
        process->start(command.takeFirst(), command);
        EXPECT_TRUE(BVTest::waitFor([] {
            return QDBusConnection::sessionBus().interface()->isServiceRegistered(kIdentifier).value();
        }));
        return process;
    }

    // The backups of the tool's storage as the service lists them.
    QVariantList listBackups()
    {
        RecordingDelegate delegate;
        BVVelora client(BVVelora::Program::Prefsync, &delegate);
        client.populateFilesForApp(BVPrefSync::appID(), QStringLiteral("/"));
        EXPECT_TRUE(delegate.waitForCalls(1));
        return delegate.calls.isEmpty() ? QVariantList() : delegate.calls.first().result.toList();
    }
    QByteArray downloadBackup(long id)
    {
        RecordingDelegate delegate;
        BVVelora client(BVVelora::Program::Prefsync, &delegate);
        client.generateURLForFileWithID(id);
        EXPECT_TRUE(delegate.waitForCalls(1));
        const QString url = delegate.calls.isEmpty()
            ? QString()
            : delegate.calls.first().result.toMap().value("url").toString();
        QNetworkAccessManager manager;
        QNetworkReply *reply = manager.get(QNetworkRequest(QUrl(url)));
        EXPECT_TRUE(BVTest::waitFor([&] { return reply->isFinished(); }));
        const QByteArray data = reply->readAll();
        delete reply;
        return data;
    }

    VeloraTest::VeloraServer server;
    QString prefs;
    QList<QProcess *> running;
};

// Bytes no text conversion leaves alone.
QByteArray samplePreferences(char tag)
{
    QByteArray data = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<plist><dict><key>k</key><string>";
    data += tag;
    data += QByteArray("\xc3\xa9\x00\xff\x80\r\n\n", 8);
    data += "</string></dict></plist>\n";
    data.append('\0').append(tag);
    return data;
}

} // namespace

TEST_F(Prefsync, EveryRefusedStartSaysWhy)
{
    const Alert noLogin {QStringLiteral("Velora not authorized"),
        QStringLiteral("Please login to Velora from another Brightvane application and try again.")};
    EXPECT_EQ(runTool({QStringLiteral("-backup"), kIdentifier}), QList<Alert> {noLogin});

    storeLogin(QStringLiteral("http://127.0.0.1:9/"), QStringLiteral("reviewer@example.com"),
        QStringLiteral("pass"));
    const Alert restoreMissing {QStringLiteral("Unable to restore"),
        QStringLiteral("Could not find the application to restore on this computer.")};
    const Alert backupMissing {QStringLiteral("Unable to backup"),
        QStringLiteral("Could not find the application to backup on this computer.")};
    const struct
    {
        QStringList arguments;
        Alert alert;
    } cases[] = {
        {{QStringLiteral("-backup")}, {QStringLiteral("Invalid paramaters"), QString()}},
        {{QStringLiteral("-backup"), QStringLiteral("org.example.app")},
            {QStringLiteral("Invalid paramater format"), QString()}},
        {{QStringLiteral("-restore"), QStringLiteral("com.brightvane.Absent")}, restoreMissing},
        {{QStringLiteral("-backup"), QStringLiteral("com.brightvane.Absent")}, backupMissing},
        {{QStringLiteral("-restore"), QStringLiteral("-backup"), QStringLiteral("com.brightvane.Absent")},
            backupMissing},
        {{QStringLiteral("-sync"), kIdentifier}, {QStringLiteral("Invalid paramaters"), QString()}},
        {{QStringLiteral("-backup"), kIdentifier},
            {QStringLiteral("No preferences to backup"),
                QStringLiteral("Please launch the application you'd like to backup and try again.")}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(runTool(c.arguments), QList<Alert> {c.alert}) << c.arguments.join(' ').toStdString();

    installApplication(QString());
    ASSERT_TRUE(BVTest::writeFile(prefs, samplePreferences('a')));
    EXPECT_EQ(runTool({QStringLiteral("-backup"), kIdentifier}),
        said(QStringLiteral("Unable to backup"), QStringLiteral("Could not get app name.")));
}

TEST_F(Prefsync, BackupThenRestoreBringsBackTheSameBytesAndTrashesTheOldFile)
{
    startServer();
    const QByteArray original = samplePreferences('a');
    ASSERT_TRUE(BVTest::writeFile(prefs, original));
    EXPECT_EQ(runTool({QStringLiteral("-backup"), kIdentifier}),
        said(QStringLiteral("Preferences backed up successfully"), QString()));

    const QByteArray changed = "changed since the backup";
    ASSERT_TRUE(BVTest::writeFile(prefs, changed));
    EXPECT_EQ(runTool({QStringLiteral("-restore"), kIdentifier}),
        said(QStringLiteral("Preferences successfully restored"), QString()));
    EXPECT_EQ(BVTest::readFile(prefs), original);
    const QString trashed = qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Trash/files/")
        + QFileInfo(prefs).fileName();
    EXPECT_EQ(BVTest::readFile(trashed), changed);
}

TEST_F(Prefsync, RestoreUsesTheFirstBackupOfTheTitleAndNeedsTheSameName)
{
    startServer();
    ASSERT_TRUE(BVTest::writeFile(prefs, samplePreferences('a')));
    ASSERT_EQ(runTool({QStringLiteral("-backup"), kIdentifier}).size(), 1);
    ASSERT_TRUE(BVTest::writeFile(prefs, samplePreferences('b')));
    ASSERT_EQ(runTool({QStringLiteral("-backup"), kIdentifier}).size(), 1);

    long first = -1;
    for (const QVariant &item : listBackups()) {
        if (item.toMap().value("title").toString() == kName) {
            first = item.toMap().value("id").toLongLong();
            break;
        }
    }
    ASSERT_GE(first, 0);
    const QByteArray expected = downloadBackup(first);
    ASSERT_TRUE(expected == samplePreferences('a') || expected == samplePreferences('b'));

    ASSERT_TRUE(BVTest::writeFile(prefs, "local"));
    EXPECT_EQ(runTool({QStringLiteral("-restore"), kIdentifier}),
        said(QStringLiteral("Preferences successfully restored"), QString()));
    EXPECT_EQ(BVTest::readFile(prefs), expected);

    const Alert noBackup {QStringLiteral("Unable to restore preferences"),
        QStringLiteral("Could not find a backup for this application.")};
    for (const QString &name : {QStringLiteral("Prefs Test Renamed"), QStringLiteral("prefs test")}) {
        installApplication(name);
        EXPECT_EQ(runTool({QStringLiteral("-restore"), kIdentifier}), QList<Alert> {noBackup})
            << name.toStdString();
        EXPECT_EQ(BVTest::readFile(prefs), expected);
    }
}

TEST_F(Prefsync, RestoreWaitsForTheRunningApplicationToQuitAndStartsItAgain)
{
    startServer();
    const QByteArray original = samplePreferences('a');
    ASSERT_TRUE(BVTest::writeFile(prefs, original));
    ASSERT_EQ(runTool({QStringLiteral("-backup"), kIdentifier}).size(), 1);
    ASSERT_TRUE(BVTest::writeFile(prefs, "before the restore"));

    QProcess *app = startRunningApplication();
    EXPECT_EQ(runTool({QStringLiteral("-restore"), kIdentifier}),
        said(QStringLiteral("Preferences successfully restored"), QString()));
    // The application saved while quitting, before the restored file was put in place.
    EXPECT_TRUE(BVTest::waitFor([&] { return app->state() == QProcess::NotRunning; }));
    EXPECT_EQ(count("saved"), 1);
    EXPECT_EQ(BVTest::readFile(prefs), original);
    // Started again through its desktop entry.
    EXPECT_TRUE(BVTest::waitFor([&] { return count("launched ") == 2; }));
    EXPECT_TRUE(BVTest::waitFor(
        [] { return QDBusConnection::sessionBus().interface()->isServiceRegistered(kIdentifier).value(); }));
    EXPECT_EQ(BVTest::readFile(prefs), original);
}

TEST_F(Prefsync, RestoreLeavesTheFileWhenTheApplicationDoesNotQuit)
{
    startServer();
    ASSERT_TRUE(BVTest::writeFile(prefs, samplePreferences('a')));
    ASSERT_EQ(runTool({QStringLiteral("-backup"), kIdentifier}).size(), 1);
    for (const QString &mode : {QStringLiteral("--refuse"), QStringLiteral("--ignore")}) {
        ASSERT_TRUE(BVTest::writeFile(prefs, "in use"));
        QProcess *app = startRunningApplication(mode);
        EXPECT_EQ(runTool({QStringLiteral("-restore"), kIdentifier}, 500ms),
            said(QStringLiteral("Unable to terminate running application"), QString()))
            << mode.toStdString();
        EXPECT_EQ(BVTest::readFile(prefs), QByteArray("in use")) << mode.toStdString();
        EXPECT_EQ(app->state(), QProcess::Running);
        app->kill();
        app->waitForFinished(2000);
        EXPECT_TRUE(BVTest::waitFor([] {
            return !QDBusConnection::sessionBus().interface()->isServiceRegistered(kIdentifier).value();
        }));
    }
    EXPECT_EQ(count("launched "), 2);
}
