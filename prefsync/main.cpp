#include "support/BVBundle.h"
#include "support/BVLog.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

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
    // Every outcome is told in an alert, which needs the widget application; the tool itself
    // shows no window, and an alert closing does not end it: it quits when its job is done.
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    if (argc != 3 || (std::strcmp(argv[1], "-backup") != 0 && std::strcmp(argv[1], "-restore") != 0)) {
        std::fprintf(stderr, "Usage: prefsync -backup|-restore BUNDLE_IDENTIFIER\n");
        return 2;
    }
    // prefsync never starts a log of its own: its lines go to the current log when one exists.
    BVLog::appendLog("prefsync %s %s: backup and restore are not available in this build", argv[1], argv[2]);
    BVLog::finishWriting();
    std::fprintf(stderr, "prefsync: backup and restore are not available in this build\n");
    return 1;
}
