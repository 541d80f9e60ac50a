#include "common/BVTestSupport.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

// prefsync tells every outcome in an alert, so it must run as a widget application: it loads the
// platform's window system plugin at start (a bare core application never does, and its first
// alert would abort), yet shows no window of its own until an alert.
TEST(PrefsyncStart, RunsAsAWidgetApplicationWithoutAWindowOfItsOwn)
{
    QProcess prefsync;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("QT_DEBUG_PLUGINS"), QStringLiteral("1"));
    prefsync.setProcessEnvironment(environment);
    prefsync.start(QStringLiteral(BV_BINARY_DIR "/prefsync/prefsync"),
        {QStringLiteral("-backup"), QStringLiteral("com.brightvane.reelmark")});
    // Without a login its first outcome is an alert, which waits for an answer: a core application
    // would have aborted by then. A run that ends by itself must end normally.
    if (prefsync.waitForFinished(8000)) {
        EXPECT_EQ(prefsync.exitStatus(), QProcess::NormalExit);
    } else {
        prefsync.kill();
        ASSERT_TRUE(prefsync.waitForFinished(10000));
    }
    const QString errors = QString::fromUtf8(prefsync.readAllStandardError());
    EXPECT_TRUE(errors.contains(QStringLiteral("libqoffscreen.so"))) << errors.left(2000).toStdString();
    EXPECT_FALSE(errors.contains(QStringLiteral("QWidget: Must construct a QApplication")));
}
