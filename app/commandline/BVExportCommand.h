#pragma once

#include <QString>
#include <QStringList>

// `reelmark --export`, `--trim` and `--export-frame`: the window's export jobs without a window,
// through the same engine and rules. Needs a QCoreApplication. Answers the exit status: 0 success,
// 1 failure (the error's text on standard error), 2 bad usage.
class BVExportCommand
{
public:
    enum class Mode { Export, Trim, ExportFrame };

    BVExportCommand() = delete;
    static int run(Mode mode, const QStringList &arguments);
    static QString usage();
};
