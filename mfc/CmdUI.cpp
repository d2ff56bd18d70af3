#include "mfc/afxwin.h"

void CCmdUI::Enable(BOOL on) {
    enabled_ = on != FALSE;
    calls_.push_back({Call::Enable, enabled_ ? 1 : 0});
}

void CCmdUI::SetCheck(int check) {
    check_ = check;
    calls_.push_back({Call::SetCheck, check});
}
