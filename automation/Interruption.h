#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace gm {

// Ending a run on SIGINT or SIGTERM, or when the user cancels it in the window. The handlers
// only note the signal (an atomic flag and a byte on a pipe); the batch frame stops before the
// next file, and while a run lasts an InterruptWatch stops the engine at once, so that the
// file in progress is abandoned through its ordinary failure path (temporary files removed,
// the original untouched). A second signal ends the program at once; the next run removes
// what that leaves. A cancel stops the run the same way but leaves the program running.

// Installs the handlers for SIGINT and SIGTERM (once; later calls do nothing).
void installInterruptHandlers();
// Asks the current run to stop, as the signal handlers do (also usable without them).
void requestInterrupt(int signalNumber);
// The user asked the current run to stop (the window's cancel button); callable from any thread.
void requestCancel();
// A stop was asked for, by a signal or by a cancel.
bool interruptRequested();
// The signal that asked to stop, 0 when none did (a cancel alone leaves it 0).
int interruptSignal();
bool cancelRequested();
// Forgets a request, signal and cancel alike (for a program that goes on after an interrupted
// or cancelled run, and for tests).
void clearInterruptRequest();
// Forgets a cancel only (a new run in the window), never a signal that is ending the program.
void clearCancelRequest();

// While it exists, calls `onInterrupt` on its own thread as soon as a stop is requested
// (at once when one is pending).
class InterruptWatch
{
public:
    explicit InterruptWatch(std::function<void()> onInterrupt);
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch &) = delete;
    InterruptWatch &operator=(const InterruptWatch &) = delete;

private:
    void loop();

    std::function<void()> m_onInterrupt;
    int m_stop[2] = {-1, -1};
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};

} // namespace gm
