// Waiting in a test for something another thread or process brings about.
#pragma once

#include <algorithm>
#include <chrono>
#include <thread>

// How long eventually() waits by default: long enough that only a real hang
// runs into it, even on a loaded machine or under a sanitizer.
inline constexpr std::chrono::milliseconds EventuallyLimit{30000};

// Polls `condition` until it holds or `limit` has passed; whether it came
// true. The limit only keeps a broken test from hanging: a test waits for the
// condition, never for the time, so pass the default unless the wait is
// itself what is measured.
template <typename Condition>
bool eventually(Condition&& condition, std::chrono::milliseconds limit = EventuallyLimit) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + limit;
    // Starts fine-grained, so a quick event is seen at once, and backs off
    // so a slow one costs little.
    std::chrono::microseconds pause{100};
    while (!condition()) {
        if (Clock::now() >= deadline)
            return condition();
        std::this_thread::sleep_for(pause);
        pause = std::min<std::chrono::microseconds>(pause * 2, std::chrono::milliseconds(10));
    }
    return true;
}
