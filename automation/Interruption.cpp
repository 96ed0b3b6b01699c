#include "automation/Interruption.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <unistd.h>

namespace gm {

namespace {

std::atomic<int> g_signal{0};
std::atomic<bool> g_cancel{false};
int g_pipe[2] = {-1, -1}; // written by the handlers, read by the watch
std::once_flag g_pipeOnce;

void makePipe()
{
    std::call_once(g_pipeOnce, [] {
        if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
            g_pipe[0] = g_pipe[1] = -1;
    });
}

void wake()
{
    if (g_pipe[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
    }
}

extern "C" void onStopSignal(int signalNumber)
{
    const int saved = errno;
    int expected = 0;
    if (!g_signal.compare_exchange_strong(expected, signalNumber)) {
        // Asked twice: the user wants the program gone now.
        ::signal(signalNumber, SIG_DFL);
        ::raise(signalNumber);
    }
    wake();
    errno = saved;
}

} // namespace

void installInterruptHandlers()
{
    static std::once_flag once;
    std::call_once(once, [] {
        makePipe();
        struct sigaction action
        {
        };
        action.sa_handler = onStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGINT, &action, nullptr);
        ::sigaction(SIGTERM, &action, nullptr);
    });
}

void requestInterrupt(int signalNumber)
{
    makePipe();
    int expected = 0;
    g_signal.compare_exchange_strong(expected, signalNumber);
    wake();
}

void requestCancel()
{
    makePipe();
    g_cancel.store(true);
    wake();
}

bool interruptRequested()
{
    return g_signal.load() != 0 || g_cancel.load();
}

bool cancelRequested()
{
    return g_cancel.load();
}

int interruptSignal()
{
    return g_signal.load();
}

void clearInterruptRequest()
{
    g_signal.store(0);
    g_cancel.store(false);
}

void clearCancelRequest()
{
    g_cancel.store(false);
}

InterruptWatch::InterruptWatch(std::function<void()> onInterrupt) : m_onInterrupt(std::move(onInterrupt))
{
    makePipe();
    if (::pipe2(m_stop, O_CLOEXEC) != 0)
        m_stop[0] = m_stop[1] = -1;
    m_thread = std::thread([this] { loop(); });
}

InterruptWatch::~InterruptWatch()
{
    m_stopping = true;
    if (m_stop[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_stop[1], &byte, 1);
    }
    if (m_thread.joinable())
        m_thread.join();
    for (int fd : m_stop)
        if (fd >= 0)
            ::close(fd);
}

void InterruptWatch::loop()
{
    bool called = false;
    for (;;) {
        if (!called && interruptRequested()) {
            called = true;
            m_onInterrupt();
        }
        pollfd fds[2] = {{g_pipe[0], POLLIN, 0}, {m_stop[0], POLLIN, 0}};
        // Without a stop pipe the watch still notices a request within a short time.
        const int ready = ::poll(fds, 2, m_stop[0] >= 0 ? -1 : 200);
        if ((ready < 0 && errno != EINTR) || fds[1].revents != 0 || m_stopping)
            return;
        if (fds[0].revents != 0) {
            char buffer[64];
            while (::read(g_pipe[0], buffer, sizeof buffer) > 0) { }
        }
    }
}

} // namespace gm
