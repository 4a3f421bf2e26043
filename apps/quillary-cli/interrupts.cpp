#include "interrupts.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <csignal>

namespace quillary::cli {
namespace {

constexpr char kInterruptByte = 'i';
constexpr char kQuitByte = 'q';

std::atomic<bool> g_interrupted = false;
// The pipe from the handler to the relay: [0] read end, [1] write end (non-blocking, so a
// handler never waits on a full pipe).
int g_pipe[2] = {-1, -1};

extern "C" void OnInterrupt(int) {
    g_interrupted = true;
    const int savedErrno = errno;
    [[maybe_unused]] ssize_t written = ::write(g_pipe[1], &kInterruptByte, 1);
    errno = savedErrno;
}

void WriteByte(char byte) {
    while (::write(g_pipe[1], &byte, 1) < 0 && errno == EINTR) {
    }
}

}  // namespace

bool CatchInterrupts() {
    if (::pipe2(g_pipe, O_CLOEXEC) != 0)
        return false;
    ::fcntl(g_pipe[1], F_SETFL, ::fcntl(g_pipe[1], F_GETFL) | O_NONBLOCK);
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    return true;
}

bool InterruptRequested() {
    return g_interrupted;
}

CInterruptRelay::CInterruptRelay(CManualResetEvent& stop) {
    if (g_interrupted)
        stop.Set();
    if (g_pipe[0] < 0)
        return;
    thread_ = std::thread([&stop] {
        char byte = 0;
        for (;;) {
            const ssize_t got = ::read(g_pipe[0], &byte, 1);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0 || byte == kQuitByte)
                return;
            stop.Set();
        }
    });
}

CInterruptRelay::~CInterruptRelay() {
    if (!thread_.joinable())
        return;
    WriteByte(kQuitByte);
    thread_.join();
}

}  // namespace quillary::cli
