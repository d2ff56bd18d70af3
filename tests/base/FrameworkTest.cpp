#include <stdlib.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "mfc/afxwin.h"
#include "resource/resource.h"

namespace {

std::wstring wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

TEST(Window, MessagesQueueInOrderForLiveWindowsOnly) {
    CWnd window;
    HWND gone;
    {
        CWnd other;
        gone = other.m_hWnd;
    }
    ASSERT_EQ(PostMessageW(window.m_hWnd, WM_APP + 1, 7, -1), TRUE);
    std::thread([&] { PostMessageW(window.m_hWnd, WM_APP + 2, 0, 0); }).join();
    MSG msg{};
    ASSERT_TRUE(window.waitMessage(msg, 1000));
    EXPECT_TRUE(msg.hwnd == window.m_hWnd && msg.message == WM_APP + 1 && msg.wParam == 7 &&
                msg.lParam == -1);
    ASSERT_TRUE(window.peekMessage(msg));
    EXPECT_EQ(msg.message, WM_APP + 2);
    EXPECT_FALSE(window.waitMessage(msg, 20));
    EXPECT_EQ(PostMessageW(nullptr, WM_APP, 0, 0), FALSE);
    EXPECT_EQ(PostMessageW(gone, WM_APP, 0, 0), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST(Window, InvalidateRectMarksTheWindowUntilValidated) {
    CWnd window;
    ASSERT_EQ(InvalidateRect(window.m_hWnd, nullptr, FALSE), TRUE);
    EXPECT_TRUE(window.isInvalidated());
    EXPECT_FALSE(window.isEraseRequested());
    InvalidateRect(window.m_hWnd, nullptr, TRUE);
    EXPECT_TRUE(window.isEraseRequested());
    window.validate();
    EXPECT_FALSE(window.isInvalidated() || window.isEraseRequested());
}

TEST(ModuleState, ManagedStateHoldsForItsBlockAndItsThreadOnly) {
    AFX_MODULE_STATE other;
    const HINSTANCE original = AfxGetResourceHandle();
    const HINSTANCE marker = reinterpret_cast<HINSTANCE>(&other);
    {
        AFX_MANAGE_STATE(&other);
        AfxSetResourceHandle(marker);
        EXPECT_EQ(AfxGetResourceHandle(), marker);
        HINSTANCE elsewhere = marker;
        std::thread([&] { elsewhere = AfxGetResourceHandle(); }).join();
        EXPECT_EQ(elsewhere, original);
    }
    EXPECT_EQ(AfxGetModuleState(), AfxGetStaticModuleState());
    EXPECT_EQ(AfxGetResourceHandle(), original);
}

TEST(Application, LaterApplicationHidesTheEarlierUntilDestroyed) {
    CWinApp* const before = AfxGetApp();
    {
        CWinApp app(L"Probe");
        EXPECT_EQ(AfxGetApp(), &app);
    }
    EXPECT_EQ(AfxGetApp(), before);
}

TEST(CommandUpdate, RecordsEveryCallAndTheResultingState) {
    CCmdUI ui(ID_PAUSE_ALL);
    ui.Enable(FALSE);
    ui.SetCheck(1);
    EXPECT_FALSE(ui.isEnabled());
    EXPECT_EQ(ui.checkState(), 1);
    ASSERT_EQ(ui.calls().size(), 2u);
    EXPECT_TRUE(ui.calls()[0].call == CCmdUI::Call::Enable && ui.calls()[0].value == 0);
}

TEST(Modules, ResourceLibraryIsFoundBesideTheApplicationLibrary) {
    const HMODULE module = LoadLibraryW(L"ULVresource.dll");
    ASSERT_NE(module, nullptr);
    wchar_t text[8];
    EXPECT_EQ(LoadStringW(module, IDS_PRODUCT_TITLE, text, 4), 3);
    EXPECT_EQ(std::wstring(text), L"Ulv");
    EXPECT_EQ(LoadStringW(module, 1, text, 8), 0);
    EXPECT_EQ(FreeLibrary(module), TRUE);
    EXPECT_EQ(LoadLibraryW(L"NoSuchModule.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

TEST(Modules, ModuleFileNameIsTheExecutableCutAtTheBuffer) {
    const std::wstring exe = wide(std::filesystem::read_symlink("/proc/self/exe").string());
    wchar_t full[4096];
    EXPECT_EQ(GetModuleFileNameW(nullptr, full, 4096), exe.size());
    EXPECT_EQ(std::wstring(full), exe);
    wchar_t cut[6];
    EXPECT_EQ(GetModuleFileNameW(nullptr, cut, 6), 6u);
    EXPECT_EQ(std::wstring(cut), exe.substr(0, 5));
}

TEST(Shell, CommonApplicationDataComesFromTheEnvironment) {
    wchar_t folder[MAX_PATH];
    setenv("ULVAREN_COMMON_APPDATA", "/srv/common", 1);
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, folder), S_OK);
    EXPECT_EQ(std::wstring(folder), L"/srv/common");
    unsetenv("ULVAREN_COMMON_APPDATA");
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, folder), S_OK);
    EXPECT_EQ(std::wstring(folder), L"/var/lib");
}

}  // namespace
