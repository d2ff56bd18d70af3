#include <gtest/gtest.h>

#include <thread>

#include "mfc/afxwin.h"

namespace {

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

}  // namespace
