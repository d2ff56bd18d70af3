#include "mfc/ModuleLookup.h"
#include "mfc/afxwin.h"

namespace {

// The state put in force on this thread by AFX_MANAGE_STATE; null for the
// default.
thread_local AFX_MODULE_STATE* currentState = nullptr;

}  // namespace

AFX_MODULE_STATE* AfxGetStaticModuleState() {
    // Never destroyed: the application object, a global, unregisters itself
    // from it during the program's tear-down.
    static AFX_MODULE_STATE* const state = new AFX_MODULE_STATE;
    return state;
}

AFX_MODULE_STATE* AfxGetModuleState() {
    return currentState ? currentState : AfxGetStaticModuleState();
}

HINSTANCE AfxGetResourceHandle() {
    return AfxGetModuleState()->m_hCurrentResourceHandle;
}

void AfxSetResourceHandle(HINSTANCE handle) {
    AfxGetModuleState()->m_hCurrentResourceHandle = handle;
}

HINSTANCE AfxGetInstanceHandle() {
    return AfxGetModuleState()->m_hCurrentInstanceHandle;
}

AFX_MAINTAIN_STATE2::AFX_MAINTAIN_STATE2(AFX_MODULE_STATE* state) : previous_(currentState) {
    currentState = state;
}

AFX_MAINTAIN_STATE2::~AFX_MAINTAIN_STATE2() {
    currentState = previous_;
}

CWinApp::CWinApp(LPCTSTR appName) : state_(AfxGetModuleState()), previous_(nullptr) {
    if (appName) {
        appName_ = appName;
        m_pszAppName = appName_.c_str();
    }
    previous_ = state_->m_pCurrentWinApp.exchange(this);
}

CWinApp::~CWinApp() {
    CWinApp* self = this;
    state_->m_pCurrentWinApp.compare_exchange_strong(self, previous_);
}

BOOL CWinApp::InitInstance() {
    return TRUE;
}

int CWinApp::ExitInstance() {
    return 0;
}

void CWinApp::BeginWaitCursor() {
    ++waitCursor_;
}

void CWinApp::EndWaitCursor() {
    int count = waitCursor_.load();
    while (count > 0 && !waitCursor_.compare_exchange_weak(count, count - 1)) {
    }
}

CWinApp* AfxGetApp() {
    return AfxGetModuleState()->m_pCurrentWinApp.load();
}

BOOL AfxWinInit() {
    AFX_MODULE_STATE* state = AfxGetModuleState();
    CWinApp* app = state->m_pCurrentWinApp.load();
    if (!app)
        return FALSE;
    state->m_hCurrentInstanceHandle = afxThisModule();
    if (!state->m_hCurrentResourceHandle) {
        state->m_hCurrentResourceHandle = state->m_hCurrentInstanceHandle;
    }
    app->m_hInstance = state->m_hCurrentInstanceHandle;
    return app->InitInstance();
}

int AfxWinTerm() {
    CWinApp* app = AfxGetApp();
    return app ? app->ExitInstance() : -1;
}
