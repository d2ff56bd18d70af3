#include <gtest/gtest.h>

#include <thread>

#include "mfc/afxwin.h"
#include "resource/resource.h"

namespace {

TEST(Window, MessagesQueueInOrderForLiveWindowsOnly) {
    CWnd window;
    const HWND gone = CWnd().m_hWnd;
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
    EXPECT_EQ(AfxGetResourceHandle(), original);
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

}  // namespace
