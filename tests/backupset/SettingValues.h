// A set's settings filled with values that stand out, and shown as text so
// that a failed comparison names the setting that differs.
#pragma once

#include <string>
#include <vector>

#include "backupset/BackupSet.h"
#include "backupset/BackupSetFields.h"

inline std::wstring show(const terbin::TBString& text) {
    return text.str();
}
inline std::wstring show(int32_t number) {
    return terbin::TBString::valueOf(number).str();
}
inline std::wstring show(const terbin::TBStringArray& list) {
    std::wstring out = L"list of " + terbin::TBString::valueOf(list.size()).str();
    for (const terbin::TBString& entry : list) out += L"\n  " + entry.str();
    return out;
}

// Every setting as a "name: value" line, in the record's declaration order.
inline std::vector<std::wstring> settingsOf(const BackupSet& set) {
    std::vector<std::wstring> lines;
    forEachSetting([&](const auto& setting) {
        lines.push_back(std::wstring(setting.name) + L": " + show(set.*setting.field));
    });
    return lines;
}

// Texts hold non-ASCII letters and raw bytes.
inline const terbin::TBString Odd =
    terbin::TBString::fromBytes("/m\xc3\xbcll/\xff\xfe \xe6\x97\xa5 ") + L"\U0001F600";

inline void fill(terbin::TBString& text, int n, int) {
    text = Odd + terbin::TBString::valueOf(n);
}
inline void fill(int32_t& number, int n, int) {
    number = n;
}
inline void fill(terbin::TBStringArray& list, int n, int variant) {
    list.clear();
    for (int i = 0; i < variant + n % 3; ++i) list.add(Odd + terbin::TBString::valueOf(i));
}

// Gives every setting a value unlike the defaults, unlike the other settings
// and unlike other variants, lists also in their length. Returns them as
// settingsOf gives them.
inline std::vector<std::wstring> fillSettings(BackupSet& set, int variant) {
    int n = 100 * variant;
    forEachSetting([&](const auto& setting) { fill(set.*setting.field, n++, variant); });
    set.excludeFolders.add(L"");
    return settingsOf(set);
}
