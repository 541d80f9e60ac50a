#include "app/commandline/BVCommandLine.h"

#include "app/commandline/BVExportCommand.h"
#include "app/commandline/BVMarkerCommand.h"

BVCommandLine BVCommandLine::parse(const QStringList &arguments)
{
    BVCommandLine line;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &arg = arguments.at(i);
        if (arg == QLatin1String("--version") || arg == QLatin1String("-v")) {
            line.action = Action::Version;
            return line;
        }
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            line.action = Action::Help;
            return line;
        }
        if (arg == QLatin1String("--probe")) {
            line.action = Action::Probe;
            line.probeArguments = arguments.mid(i + 1);
            return line;
        }
        if (BVMarkerCommand::isMarkerCommand(arg)) {
            line.action = Action::Markers;
            line.markerCommand = arg;
            line.markerArguments = arguments.mid(i + 1);
            return line;
        }
        if (arg == QLatin1String("--export") || arg == QLatin1String("--trim")
            || arg == QLatin1String("--export-frame")) {
            line.action = arg == QLatin1String("--export") ? Action::ExportMovie
                : arg == QLatin1String("--trim")           ? Action::Trim
                                                           : Action::ExportFrame;
            line.exportArguments = arguments.mid(i + 1);
            return line;
        }
        if (arg == QLatin1String("--fps")) {
            if (i + 1 >= arguments.size()) {
                line.action = Action::Invalid;
                line.error = QStringLiteral("--fps needs a frame rate");
                return line;
            }
            line.sequenceFPS = arguments.at(++i);
            continue;
        }
        if (arg == QLatin1String("--")) {
            line.files << arguments.mid(i + 1);
            return line;
        }
        if (arg.startsWith(u'-') && arg.size() > 1) {
            // Options the toolkit understands (-platform, -style ...) were removed before this point.
            line.action = Action::Invalid;
            line.error = QStringLiteral("unknown option %1").arg(arg);
            return line;
        }
        line.files << arg;
    }
    return line;
}

QString BVCommandLine::usage()
{
    return QStringLiteral("Usage: reelmark [FILE or ADDRESS ...]\n"
                          "       reelmark [--fps RATE] IMAGE IMAGE ...   (played as one image sequence)\n"
                          "       reelmark --probe [--fps RATE] FILE ...\n"
                          "       reelmark --version\n")
        + BVMarkerCommand::usage().replace(
            QStringLiteral("Usage: reelmark"), QStringLiteral("       reelmark"))
        + BVExportCommand::usage();
}
