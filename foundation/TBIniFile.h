// INI files read into a tree of configuration keys and values, as the string
// tables use them.
//
// Syntax read by TBIniFile::readFromFile, one entry per line, UTF-8 (bytes
// that are not valid UTF-8 are kept losslessly, see TBString::fromBytes):
//   [section]       starts a section; text after the closing "]" is ignored
//   key = value     a value of the current section (or of the file itself
//                   before the first section); blanks around key and value
//                   are dropped, and one pair of double quotes enclosing the
//                   whole value is removed, so "  padded  " keeps its blanks
//   ; comment       a line whose first non-blank character is ";" or "#"
// There are no inline comments and no escapes: everything after "=" is the
// value. Lines of any other form are skipped. A UTF-8 byte order mark at the
// start of the file is ignored; lines may end in LF or CR LF.
//
// Section and key names compare without regard to letter case (Unicode
// simple case folding) unless the file is made case-sensitive. A section
// that appears twice is one section. When a key appears twice in a section,
// the first value is kept and later ones are ignored.
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "foundation/TBString.h"

namespace terbin {

// One named value of a configuration key.
class TBConfigValue {
public:
    TBConfigValue(const TBString& name, const TBString& text) : name_(name), text_(text) {}

    const TBString& name() const { return name_; }
    // The value's text, as read.
    TBString toString() const { return text_; }

private:
    TBString name_;
    TBString text_;
};

// A named node of the tree: it holds values and subkeys, both in the order
// they were added. Not safe for concurrent changes; concurrent look-ups are.
class TBConfigKey {
public:
    explicit TBConfigKey(const TBString& name, bool caseSensitive = false);
    virtual ~TBConfigKey();
    TBConfigKey(const TBConfigKey&) = delete;
    TBConfigKey& operator=(const TBConfigKey&) = delete;

    const TBString& name() const { return name_; }

    // The subkey called `name`; null when there is none.
    TBConfigKey* findKey(const TBString& name) const;
    // The value called `name`; null when there is none.
    TBConfigValue* value(const TBString& name) const;

    // The subkey called `name`, added at the end when there is none yet.
    TBConfigKey* addKey(const TBString& name);
    // Adds a value called `name` unless one exists; returns the value that
    // the key holds under that name afterwards (the first one).
    TBConfigValue* addValue(const TBString& name, const TBString& text);

    int keyCount() const { return static_cast<int>(keys_.size()); }
    int valueCount() const { return static_cast<int>(values_.size()); }
    bool isCaseSensitive() const { return caseSensitive_; }

private:
    TBString lookupName(const TBString& name) const;

    TBString name_;
    bool caseSensitive_;
    std::vector<std::unique_ptr<TBConfigKey>> keys_;
    std::vector<std::unique_ptr<TBConfigValue>> values_;
    std::unordered_map<TBString, TBConfigKey*> keyIndex_;
    std::unordered_map<TBString, TBConfigValue*> valueIndex_;
};

// An INI file: its top-level keys are the file's sections.
class TBIniFile : public TBConfigKey {
public:
    // `fileName` names the file; with `readNow` set (and a name given) the
    // file is read at once, as readFromFile(fileName) would. `caseSensitive`
    // makes section and key names compare with letter case.
    TBIniFile(const TBString& fileName, bool readNow, bool caseSensitive);

    const TBString& fileName() const { return fileName_; }

    // Adds the sections and values of the file at `path` to the tree (see
    // the syntax above). Returns 0, or the result code of opening or reading
    // the file; what was read before a read error is kept.
    uint32_t readFromFile(const TBString& path);

private:
    void parseLine(const TBString& line, TBConfigKey*& section);

    TBString fileName_;
};

}  // namespace terbin
