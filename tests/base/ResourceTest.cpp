#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "base/ULVbase.h"
#include "mfc/DialogTemplate.h"
#include "mfc/MfcExt.h"
#include "mfc/afxdlgs.h"

namespace {

// The controls the dialogs' code uses, by template: each its id and its kind,
// S static, H HTML, E edit, M multi-line edit, B button, C check box or L
// drop-down list.
const std::map<unsigned, const char*> Used = {
    {100, "1018S 1019H"},
    {131, "1008E 1014C 1005E 1006B 1009L 1010C 1011C 1012E 1013C 1015C"},
    {132, "1004M 1005M 1006M 1007M 1013B"},
    {139, "1026C 1007E 1008E 1025B 1022C 1023C 1024C 1019E 1027S 1028S"},
    {134, "1016C 1017C 1018C"}};
const std::string KindLetters = "SHEMBCL";
constexpr ControlKind Kinds[] = {
    ControlKind::Static, ControlKind::Html,     ControlKind::Edit,    ControlKind::MultiLineEdit,
    ControlKind::Button, ControlKind::CheckBox, ControlKind::ComboBox};

TEST(ResourceLibrary, GivesEveryDialogEachControlItsCodeUsesWithALabelAndThePicture) {
    ASSERT_EQ(AfxWinInit(), TRUE);
    for (const auto& [id, controls] : Used) {
        const std::optional<DialogTemplate> dialog = AfxFindDialogTemplate(id);
        ASSERT_TRUE(dialog) << id;
        EXPECT_FALSE(dialog->caption.isEmpty()) << id;
        std::istringstream list(controls);
        for (std::string entry; list >> entry;) {
            ASSERT_NE(KindLetters.find(entry.back()), std::string::npos) << entry;
            const int control = std::stoi(entry);
            const ControlKind kind = Kinds[KindLetters.find(entry.back())];
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
