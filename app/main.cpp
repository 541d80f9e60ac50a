#include "app/BVAppController.h"
#include "app/BVApplicationBus.h"
#include "app/BVDocumentController.h"
#include "app/commandline/BVCommandLine.h"
#include "app/commandline/BVExportCommand.h"
#include "app/commandline/BVMarkerCommand.h"
#include "app/commandline/BVProbeCommand.h"
#include "support/BVBundle.h"

#include <QApplication>
#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// A window needs a display; say so in one line instead of letting the toolkit abort.
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
    BVBundle::setMainBundle(BVBundle::reelmark());

    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const BVCommandLine line = BVCommandLine::parse(arguments);
    const BVBundle &bundle = BVBundle::mainBundle();

    switch (line.action) {
    case BVCommandLine::Action::Version:
        std::printf("%s %s (%s)\n", qPrintable(bundle.stringForKey(QStringLiteral("CFBundleName"))),
            qPrintable(bundle.stringForKey(QStringLiteral("CFBundleShortVersionString"))),
            qPrintable(bundle.stringForKey(QStringLiteral("CFBundleVersion"))));
        return 0;
    case BVCommandLine::Action::Help:
        std::fputs(qPrintable(BVCommandLine::usage()), stdout);
        return 0;
    case BVCommandLine::Action::Invalid:
        std::fprintf(stderr, "reelmark: %s\n%s", qPrintable(line.error), qPrintable(BVCommandLine::usage()));
        return 2;
    case BVCommandLine::Action::Probe: {
        QCoreApplication app(argc, argv);
        return BVProbeCommand::run(line.probeArguments);
    }
    case BVCommandLine::Action::Markers: {
        QCoreApplication app(argc, argv);
        return BVMarkerCommand::run(line.markerCommand, line.markerArguments);
    }
    case BVCommandLine::Action::ExportMovie:
    case BVCommandLine::Action::Trim:
    case BVCommandLine::Action::ExportFrame: {
        QCoreApplication app(argc, argv);
        const auto mode = line.action == BVCommandLine::Action::ExportMovie ? BVExportCommand::Mode::Export
            : line.action == BVCommandLine::Action::Trim                    ? BVExportCommand::Mode::Trim
                                                         : BVExportCommand::Mode::ExportFrame;
        return BVExportCommand::run(mode, line.exportArguments);
    }
    case BVCommandLine::Action::Open:
        break;
    }

    if (!hasDisplay(argc, argv)) {
        std::fprintf(stderr,
            "reelmark: no display to open a window on (DISPLAY is not set); "
            "run it in a desktop session or under xvfb-run\n");
        return 1;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(bundle.stringForKey(QStringLiteral("CFBundleName")));
    QApplication::setApplicationVersion(bundle.stringForKey(QStringLiteral("CFBundleShortVersionString")));
    QApplication::setDesktopFileName(bundle.bundleIdentifier());

    BVAppController controller;
    // The desktop and prefsync find this instance by its identifier on the session bus.
    BVApplicationBus applicationBus(bundle.bundleIdentifier());
    controller.openFiles(line.files, line.sequenceFPS);
    controller.applicationDidFinishLaunching();
    const int status = app.exec();
    BVDocumentController::sharedDocumentController()->closeAllDocuments();
    return status;
}
