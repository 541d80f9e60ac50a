#include "app/BVProbeCommand.h"

#include <cstdio>

int BVProbeCommand::run(const QStringList &arguments)
{
    for (const QString &file : arguments)
        std::printf("{\"file\":\"%s\",\"error\":\"probing is not available yet\"}\n", qPrintable(file));
    return 1;
}
