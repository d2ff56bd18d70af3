// The headless stand-in for the windowing framework and for the platform calls
// the system makes: application object, windows with message queues, module
// state with its resource handle, command-update records, module loading and
// a few shell and file calls. Nothing here draws; the host program drains the
// windows' queues and decides what to show.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

using BOOL = int;
using UINT = unsigned int;
using DWORD = uint32_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using HRESULT = int32_t;
using WCHAR = wchar_t;
using LPWSTR = wchar_t*;
using LPCWSTR = const wchar_t*;
using LPCTSTR = const wchar_t*;
using HANDLE = void*;

// A loaded module (the dynamic loader's handle of a shared library or of the
// program), never dereferenced.
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;
// A window; valid from the construction of its CWnd until its destruction.
struct HWND__;
using HWND = HWND__*;

struct RECT {
    long left;
    long top;
    long right;
    long bottom;
};

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

constexpr UINT WM_APP = 0x8000;
constexpr DWORD MAX_PATH = 260;
constexpr int CSIDL_COMMON_APPDATA = 0x23;
constexpr DWORD SHGFP_TYPE_CURRENT = 0;
constexpr HRESULT S_OK = 0;
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;

// ---------------------------------------------------------------- windows

// A window: a handle and a message queue. Any thread may post to it; the
// host drains the queue, normally on the user-interface thread.
class CWnd {
public:
    CWnd();
    // The handle becomes invalid: later posts to it fail.
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND GetSafeHwnd() const { return m_hWnd; }

    // Takes the oldest queued message into `msg`; false when none is queued.
    bool peekMessage(MSG& msg);
    // As peekMessage, waiting up to `timeoutMs` milliseconds for a message.
    bool waitMessage(MSG& msg, int64_t timeoutMs);
    size_t pendingMessageCount() const;

    // Marks the window for redrawing; the stand-in keeps no regions, so the
    // whole window counts as invalid. `erase` asks for the background too.
    void Invalidate(BOOL erase = TRUE);
    // True while the window is marked for redrawing.
    bool isInvalidated() const { return invalid_.load(); }
    // True when some invalidation since the last validate() asked for erasing.
    bool isEraseRequested() const { return erase_.load(); }
    // Clears the mark, as the host does after redrawing.
    void validate();

    const HWND m_hWnd;

private:
    friend BOOL PostMessageW(HWND, UINT, WPARAM, LPARAM);
    void post(const MSG& msg);

    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<MSG> queue_;
    std::atomic<bool> invalid_{false};
    std::atomic<bool> erase_{false};
};

// Queues the message for the window `hwnd`; FALSE (last error 1400) for a
// null handle or one that names no existing window. Any thread.
BOOL PostMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// Marks the window for redrawing (see CWnd::Invalidate); `rect` is ignored.
// FALSE for a handle that names no existing window.
BOOL InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase);

// ---------------------------------------------------------- application

class CWinApp;

// Per-module framework state: the module's instance and resource handles and
// its application object.
struct AFX_MODULE_STATE {
    HINSTANCE m_hCurrentInstanceHandle = nullptr;
    HINSTANCE m_hCurrentResourceHandle = nullptr;
    std::atomic<CWinApp*> m_pCurrentWinApp{nullptr};
};

// The state of the module that holds this framework code: the application
// library's. It lives as long as the process.
AFX_MODULE_STATE* AfxGetStaticModuleState();
// The state in force on the calling thread: the one set by the innermost
// AFX_MANAGE_STATE of the thread, else AfxGetStaticModuleState().
AFX_MODULE_STATE* AfxGetModuleState();
// The resource handle of the state in force, and its replacement.
HINSTANCE AfxGetResourceHandle();
void AfxSetResourceHandle(HINSTANCE handle);
// The instance handle of the state in force (set by AfxWinInit).
HINSTANCE AfxGetInstanceHandle();

// Puts a module state in force on the calling thread for the lifetime of the
// object and restores the previous one afterwards.
class AFX_MAINTAIN_STATE2 {
public:
    explicit AFX_MAINTAIN_STATE2(AFX_MODULE_STATE* state);
    ~AFX_MAINTAIN_STATE2();
    AFX_MAINTAIN_STATE2(const AFX_MAINTAIN_STATE2&) = delete;
    AFX_MAINTAIN_STATE2& operator=(const AFX_MAINTAIN_STATE2&) = delete;

private:
    AFX_MODULE_STATE* previous_;
};

// Holds `state` in force until the end of the enclosing block.
#define AFX_MANAGE_STATE(state) AFX_MAINTAIN_STATE2 afxManagedState_(state)

// The application object. Constructing one makes it the application of the
// module state in force (hiding an earlier one until it is destroyed);
// destroying it restores the earlier one.
class CWinApp {
public:
    explicit CWinApp(LPCTSTR appName = nullptr);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Start-up, called through AfxWinInit; TRUE to go on.
    virtual BOOL InitInstance();
    // Clean-up, called through AfxWinTerm; the program's exit code (0).
    virtual int ExitInstance();

    // Shows the wait cursor; calls nest, and each must be matched by
    // EndWaitCursor.
    void BeginWaitCursor();
    void EndWaitCursor();
    // How many BeginWaitCursor calls are not yet matched (0: normal cursor).
    int waitCursorCount() const { return waitCursor_.load(); }

    // The main window, set by the host; may be null.
    CWnd* m_pMainWnd = nullptr;
    // Set by AfxWinInit.
    HINSTANCE m_hInstance = nullptr;
    // The name given at construction; null when none was given.
    LPCTSTR m_pszAppName = nullptr;

private:
    AFX_MODULE_STATE* state_;
    CWinApp* previous_;
    std::wstring appName_;
    std::atomic<int> waitCursor_{0};
};

// The application of the module state in force; null when there is none.
CWinApp* AfxGetApp();
// Called by the host at start: stores the module's instance handle (and,
// when none is set, makes it the resource handle too), then runs the
// application's InitInstance and returns its result. FALSE without an
// application.
BOOL AfxWinInit();
// Called by the host at exit: runs the application's ExitInstance and
// returns its result; -1 without an application.
int AfxWinTerm();

// ------------------------------------------------------- command updates

// A command-update request: records what the update operation decided.
class CCmdUI {
public:
    enum class Call { Enable, SetCheck };
    struct Record {
        Call call;
        int value;
    };

    explicit CCmdUI(UINT id = 0) : m_nID(id) {}
    virtual ~CCmdUI() = default;

    virtual void Enable(BOOL on = TRUE);
    // 0 unchecked, 1 checked, 2 indeterminate.
    virtual void SetCheck(int check = 1);

    // The state after the calls so far: disabled and unchecked before any.
    bool isEnabled() const { return enabled_; }
    int checkState() const { return check_; }
    // Every call, in order.
    const std::vector<Record>& calls() const { return calls_; }

    UINT m_nID;

private:
    bool enabled_ = false;
    int check_ = 0;
    std::vector<Record> calls_;
};

// --------------------------------------------------------------- modules

// Loads a shared library. A name without "/" is a module name:
// "NAME.dll" stands for "libNAME.so", looked for beside the executable, then
// beside the library that makes the call, then beside the library that holds
// this code, then where the dynamic loader looks. A name with "/" is loaded
// as given. Null (last error 126) when it cannot be loaded.
HMODULE LoadLibraryW(LPCWSTR name);
BOOL FreeLibrary(HMODULE module);
// The address of the exported symbol `name`; null when there is none.
void* GetProcAddress(HMODULE module, const char* name);
// Copies the string resource `id` of the resource library `module` into
// `buffer` (at most `size` - 1 characters and a terminating null) and returns
// the number of characters copied; 0 when there is no such string. A
// resource library exports `const wchar_t* ulv_resource_string(unsigned id)`,
// which gives null for an unknown id.
int LoadStringW(HINSTANCE module, UINT id, LPWSTR buffer, int size);
// Full path of the module (null: the running executable) into `buffer`. A
// path longer than `size` - 1 characters is cut there; the result is then
// `size` with last error 122, else the path's length. 0 on failure.
DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);

// ------------------------------------------------------- shell and files

// The folder named by `csidl` into `path` (MAX_PATH characters). Known:
// CSIDL_COMMON_APPDATA, the all-users application data folder, which is
// $ULVAREN_COMMON_APPDATA when that is set and not empty, else /var/lib.
// E_INVALIDARG for any other folder; E_FAIL when the path does not fit.
HRESULT SHGetFolderPathW(HWND owner, int csidl, HANDLE token, DWORD flags, LPWSTR path);
// Removes an empty folder; FALSE with the last error set when it cannot
// (145 when it is not empty).
BOOL RemoveDirectoryW(LPCWSTR path);
// The calling thread's last error (shared with the foundation's
// tb_status_getLastError).
DWORD GetLastError();
void SetLastError(DWORD code);
