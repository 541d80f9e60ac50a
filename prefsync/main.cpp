#include "prefsync/BVPrefSync.h"
#include "support/BVBundle.h"
#include "support/BVLog.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstring>

namespace {

// Alerts need a display; without one, say so in one line instead of letting the toolkit abort.
bool hasDisplay(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0)
            return true;
    }
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.startsWith("xcb") && !platform.startsWith("wayland"))
        return true;
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

} // namespace

int main(int argc, char **argv)
{
    BVBundle::setMainBundle(BVBundle::prefsync());
    const BVBundle &bundle = BVBundle::mainBundle();
    if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("%s %s (%s)\n", qPrintable(bundle.stringForKey(QStringLiteral("CFBundleName"))),
            qPrintable(bundle.stringForKey(QStringLiteral("CFBundleShortVersionString"))),
            qPrintable(bundle.stringForKey(QStringLiteral("CFBundleVersion"))));
        return 0;
    }
    if (!hasDisplay(argc, argv)) {
        std::fprintf(stderr, "prefsync: no display to show its outcome on (DISPLAY is not set)\n");
        return 1;
    }

    // A GUI program without a window of its own: every outcome is an alert, and the tool quits when
    // its job is over, not when an alert closes.
    QApplication app(argc, argv);
    QApplication::setApplicationName(bundle.stringForKey(QStringLiteral("CFBundleName")));
    QApplication::setDesktopFileName(bundle.bundleIdentifier());
    QApplication::setQuitOnLastWindowClosed(false);

    // prefsync never starts a log of its own: its lines go to the current log when one exists.
    BVPrefSync tool(QApplication::arguments());
    QObject::connect(&tool, &BVPrefSync::finished, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    QTimer::singleShot(0, &tool, &BVPrefSync::applicationDidFinishLaunching);
    const int status = app.exec();
    BVLog::finishWriting();
    return status;
}
