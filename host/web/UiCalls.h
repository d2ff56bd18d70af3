// Work that server threads hand to the user-interface thread.
//
// The application object is not thread-safe: every command and update
// operation runs on the thread that owns the main window and drains its
// queue. A server thread wraps what it needs in a call, posts
// WM_UI_CALLS to the main window so the thread wakes up, and waits for the
// answer. The user-interface thread runs the calls, one at a time through
// drainOne(), each time it takes a message, so that it can carry out what a
// call left for it before the next call is answered. close() answers every waiting call and every
// later one with `closedReply` without running it, so no server thread is left waiting once the
// user-interface thread stops taking calls.
#pragma once

#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>

#include "mfc/afxwin.h"

// Posted (both parameters 0) to the main window when a call is waiting.
constexpr UINT WM_UI_CALLS = WM_APP + 0x10;

template <typename Reply>
class UiCalls {
public:
    UiCalls(CWnd& window, Reply closedReply)
        : window_(window), closedReply_(std::move(closedReply)) {}
    ~UiCalls() { close(); }
    UiCalls(const UiCalls&) = delete;
    UiCalls& operator=(const UiCalls&) = delete;

    // Any thread but the user-interface thread: runs `call` there and returns
    // its reply, or closedReply once close() has been called.
    Reply run(std::function<Reply()> call) {
        auto pending = std::make_shared<Pending>(std::move(call));
        std::future<Reply> answer = pending->promise.get_future();
        {
            std::lock_guard<std::mutex> guard(mutex_);
            if (closed_)
                return closedReply_;
            queue_.push_back(pending);
        }
        PostMessageW(window_.GetSafeHwnd(), WM_UI_CALLS, 0, 0);
        return answer.get();
    }

    // The user-interface thread: runs the oldest waiting call; false when
    // none was waiting.
    bool drainOne() {
        std::shared_ptr<Pending> next;
        {
            std::lock_guard<std::mutex> guard(mutex_);
            if (queue_.empty())
                return false;
            next = queue_.front();
            queue_.pop_front();
        }
        next->promise.set_value(next->call());
        return true;
    }

    // Answers what waits, and everything from now on, with closedReply.
    void close() {
        std::deque<std::shared_ptr<Pending>> left;
        {
            std::lock_guard<std::mutex> guard(mutex_);
            closed_ = true;
            left.swap(queue_);
        }
        for (const auto& pending : left) pending->promise.set_value(closedReply_);
    }

private:
    struct Pending {
        explicit Pending(std::function<Reply()> work) : call(std::move(work)) {}
        std::function<Reply()> call;
        std::promise<Reply> promise;
    };

    CWnd& window_;
    const Reply closedReply_;
    std::mutex mutex_;
    std::deque<std::shared_ptr<Pending>> queue_;
    bool closed_ = false;
};
