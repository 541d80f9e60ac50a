#pragma once

#include "support/BVFormat.h"

#include <QString>

#include <functional>

// The desktop's system console: standard error, one stamped line per message ("date time
// program[pid] message"). Services report here what the platform would send to its console rather
// than to the program's own log. Callable from any thread.
class BVSystemConsole
{
public:
    static void log(const QString &message);
    template<typename... Args> static void log(const char *format, Args &&...args)
    {
        log(BVFormat::format(format, std::forward<Args>(args)...));
    }
    // Every message is also handed to the observer (tests watch the console through it). The
    // observer runs on the logging thread; pass an empty function to remove it.
    static void setObserver(std::function<void(const QString &)> observer);
};
