// A small program the log tests start as a separate process, for what must happen in a fresh
// process: disabled logging, a first write without a current file, and crashes.
#include "support/BVBundle.h"
#include "support/BVLog.h"

#include <QCoreApplication>

#include <csignal>
#include <cstring>
#include <stdexcept>

namespace {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wterminate"
void throwFromNoexcept() noexcept
{
    throw std::runtime_error("disk on fire while exporting");
}
#pragma GCC diagnostic pop
} // namespace

int main(int argc, char **argv)
{
    BVBundle::setMainBundle(BVBundle::reelmark());
    QCoreApplication app(argc, argv);
    const QString mode = argc > 1 ? QString::fromLatin1(argv[1]) : QString();
    BVLog::sharedController()->setAppName(QStringLiteral("LogChild"));
    if (mode == QLatin1String("append-only")) {
        // Like prefsync: no log of its own, lines go to the current file when there is one.
        BVLog::appendLog("first line from the child");
        BVLog::finishWriting();
        return 0;
    }
    BVLog::createNewLog();
    if (mode == QLatin1String("write")) {
        BVLog::appendLog("hello from the child");
        BVLog::finishWriting();
        return 0;
    }
    if (mode == QLatin1String("terminate")) {
        BVLog::finishWriting();
        throwFromNoexcept();
    }
    if (mode == QLatin1String("segv")) {
        BVLog::appendLog("about to crash");
        BVLog::finishWriting();
        std::raise(SIGSEGV);
    }
    return 2;
}
