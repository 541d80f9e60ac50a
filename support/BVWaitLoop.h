#pragma once

#include <functional>

// Waiting for a condition without freezing the interface: on the main thread each pass handles
// pending interface events for at most 0.01 s; on any other thread each pass sleeps.
class BVWaitLoop
{
public:
    // Repeats passes until the condition holds or timeoutSeconds have passed (a negative timeout
    // waits without limit). backgroundPass is the sleep of one pass off the main thread, in seconds.
    // Answers whether the condition holds at the end.
    static bool waitUntil(
        const std::function<bool()> &condition, double timeoutSeconds, double backgroundPass);
    // One pass: event handling for at most 0.01 s on the main thread, a sleep elsewhere.
    static void pass(double backgroundPass);
    // True when the caller is the main thread of a running application (events can be handled).
    static bool canHandleEvents();
};
