#include <map>
#include <string>

#include <gtest/gtest.h>

#include "backupset/BackupSetFields.h"
#include "fuzz/DefinitionFileInput.h"
#include "support/TempDir.h"

using terbin::TBString;
using terbin::TBStringArray;

namespace {

// A value unlike every default and unlike the other settings', and how a
// definition file writes it.
std::string fill(TBString& text, int n) {
    text = L"/setting & " + TBString::valueOf(n);
    return "/setting &amp; " + std::to_string(n);
}
std::string fill(int32_t& number, int n) {
    number = 1000 + n;
    return std::to_string(number);
}
std::string fill(TBStringArray& list, int n) {
    list = TBStringArray{L"/entry " + TBString::valueOf(n), L"/entry"};
    return "<Entry>/entry " + std::to_string(n) + "</Entry><!-- between --><Entry>/entry</Entry>";
}

void expectSameSettings(const BackupSet& set, const BackupSet& expected) {
    forEachSetting([&](const auto& setting) {
        EXPECT_EQ(set.*setting.field, expected.*setting.field) << TBString(setting.name).narrow();
    });
}

TEST(DefinitionFile, EverySettingWithAnElementIsReadFromIt) {
    // Laid out as people write them; settings below "PreBackup" or
    // "PostBackup" share one such element.
    BackupSet expected;
    std::string top;
    std::map<std::string, std::string> nested;
    int n = 0;
    forEachSetting([&](const auto& setting) {
        ++n;
        if (setting.definitionPath == nullptr)
            return;
        const std::string path = TBString(setting.definitionPath).narrow();
        const size_t slash = path.find('/');
        const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        const std::string element =
            "\n  <" + name + ">" + fill(expected.*setting.field, n) + "</" + name + ">";
        if (slash == std::string::npos)
            top += element;
        else
            nested[path.substr(0, slash)] += element;
    });
    for (const auto& [name, children] : nested)
        top += "\n  <" + name + ">" + children + "\n  </" + name + ">";
    ASSERT_EQ(nested.size(), 2u);

    BackupSet set;
    ASSERT_TRUE(runDefinitionFileInput(
        "<?xml version=\"1.0\"?>\n<!-- a set -->\n<backupset>" + top + "\n</backupset>\n", set));
    expectSameSettings(set, expected);
}

TEST(DefinitionFile, MissingElementsKeepTheirValues) {
    BackupSet set;
    int n = 0;
    forEachSetting([&](const auto& setting) { fill(set.*setting.field, n++); });
    BackupSet expected(set);
    expected.preBackupEnabled = 1;
    ASSERT_TRUE(runDefinitionFileInput(
        "<backupset><PreBackup><Enabled>1</Enabled></PreBackup><PostBackup/></backupset>", set));
    expectSameSettings(set, expected);
}

}  // namespace
