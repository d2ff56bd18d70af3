#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "base/ULVbase.h"
#include "mfc/DialogTemplate.h"
#include "mfc/MfcExt.h"
#include "mfc/afxdlgs.h"

namespace {

// The controls the dialogs' code uses, by template, with their kinds.
const std::map<unsigned, std::vector<std::pair<int, ControlKind>>> Used = {
    {100, {{1018, ControlKind::Static}, {1019, ControlKind::Html}}},
    {131,
     {{1008, ControlKind::Edit},
      {1014, ControlKind::CheckBox},
      {1005, ControlKind::Edit},
      {1006, ControlKind::Button},
      {1009, ControlKind::ComboBox},
      {1010, ControlKind::CheckBox},
      {1011, ControlKind::CheckBox},
      {1012, ControlKind::Edit},
      {1013, ControlKind::CheckBox},
      {1015, ControlKind::CheckBox}}},
    {132,
     {{1004, ControlKind::MultiLineEdit},
      {1005, ControlKind::MultiLineEdit},
      {1006, ControlKind::MultiLineEdit},
      {1007, ControlKind::MultiLineEdit},
      {1013, ControlKind::Button}}},
    {139,
     {{1026, ControlKind::CheckBox},
      {1007, ControlKind::Edit},
      {1008, ControlKind::Edit},
      {1025, ControlKind::Button},
      {1022, ControlKind::CheckBox},
      {1023, ControlKind::CheckBox},
      {1024, ControlKind::CheckBox},
      {1019, ControlKind::Edit},
      {1027, ControlKind::Static},
      {1028, ControlKind::Static}}},
    {134,
     {{1016, ControlKind::CheckBox}, {1017, ControlKind::CheckBox}, {1018, ControlKind::CheckBox}}},
};

TEST(ResourceLibrary, GivesEveryDialogEachControlItsCodeUsesWithALabelAndThePicture) {
    ASSERT_EQ(AfxWinInit(), TRUE);
    for (const auto& [id, controls] : Used) {
        const std::optional<DialogTemplate> dialog = AfxFindDialogTemplate(id);
        ASSERT_TRUE(dialog) << id;
        EXPECT_FALSE(dialog->caption.isEmpty()) << id;
        for (const auto& [control, kind] : controls) {
            int found = 0;
            for (const ControlRecord& record : dialog->controls) {
                if (record.id != control)
                    continue;
                ++found;
                EXPECT_EQ(record.kind, kind) << id << "/" << control;
                EXPECT_FALSE(record.label.isEmpty()) << id << "/" << control;
            }
            EXPECT_EQ(found, 1) << id << "/" << control;
        }
    }
    for (const UINT string : {20000u, 20005u, 20006u, 20007u, 20008u})
        EXPECT_FALSE(AfxLoadString(string).isEmpty()) << string;
    CPicture background;
    EXPECT_TRUE(background.Load(250, nullptr, nullptr));
    EXPECT_TRUE(background.hasImage());
}

}  // namespace
