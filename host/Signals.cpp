#include "host/Signals.h"

#include <signal.h>

#include <atomic>

namespace {

// Set on whichever thread takes the signal; the host's waiting loop turns it
// into a stop of every run.
std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

void onInterrupt(int) {
    interrupted = true;
}

}  // namespace

void stopOnSignals() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signalNumber, &action, nullptr);
}

bool interruptRequested() {
    return interrupted;
}
