#include <chrono>
#include <unordered_map>

#include "mfc/afxwin.h"

namespace {

// Every live window by handle. Posting looks the window up and queues under
// the table's lock, so a window cannot go away half-way through a post.
struct WindowTable {
    std::mutex mutex;
    std::unordered_map<HWND, CWnd*> windows;
    uintptr_t lastHandle = 0;
};

// Never destroyed: a pool thread may still post while the program's globals
// are being torn down.
WindowTable& windowTable() {
    static WindowTable* table = new WindowTable;
    return *table;
}

HWND newHandle() {
    WindowTable& table = windowTable();
    std::lock_guard<std::mutex> guard(table.mutex);
    return reinterpret_cast<HWND>(++table.lastHandle);
}

}  // namespace

CWnd::CWnd() : m_hWnd(newHandle()) {
    // Registered only now that the queue exists, so no post can reach a
    // half-built window.
    WindowTable& table = windowTable();
    std::lock_guard<std::mutex> guard(table.mutex);
    table.windows[m_hWnd] = this;
}

CWnd::~CWnd() {
    WindowTable& table = windowTable();
    std::lock_guard<std::mutex> guard(table.mutex);
    table.windows.erase(m_hWnd);
}

bool CWnd::peekMessage(MSG& msg) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (queue_.empty())
        return false;
    msg = queue_.front();
    queue_.pop_front();
    return true;
}

bool CWnd::waitMessage(MSG& msg, int64_t timeoutMs) {
    std::unique_lock<std::mutex> guard(mutex_);
    if (!arrived_.wait_for(guard, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs),
                           [this] { return !queue_.empty(); })) {
        return false;
    }
    msg = queue_.front();
    queue_.pop_front();
    return true;
}

size_t CWnd::pendingMessageCount() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return queue_.size();
}

void CWnd::Invalidate(BOOL erase) {
    if (erase)
        erase_.store(true);
    invalid_.store(true);
}

void CWnd::validate() {
    invalid_.store(false);
    erase_.store(false);
}

void CWnd::post(const MSG& msg) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        queue_.push_back(msg);
    }
    arrived_.notify_all();
}

namespace {

// Runs `action` on the live window `hwnd` under the table's lock, so the
// window cannot be destroyed meanwhile; FALSE (last error 1400) when there is
// no such window.
template <typename Action>
BOOL withWindow(HWND hwnd, Action&& action) {
    WindowTable& table = windowTable();
    std::lock_guard<std::mutex> guard(table.mutex);
    const auto it = hwnd ? table.windows.find(hwnd) : table.windows.end();
    if (it == table.windows.end()) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    action(*it->second);
    return TRUE;
}

}  // namespace

BOOL PostMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return withWindow(hwnd, [&](CWnd& window) { window.post(MSG{hwnd, message, wParam, lParam}); });
}

BOOL InvalidateRect(HWND hwnd, const RECT* /*rect*/, BOOL erase) {
    return withWindow(hwnd, [&](CWnd& window) { window.Invalidate(erase); });
}
