// The body of the definition file fuzzer (DefinitionFileFuzz.cpp). The
// regular test suite runs it too, over the seed corpus and hostile inputs, so
// it is exercised on every test run and not only where libFuzzer is built.
#pragma once

#include <string_view>
#include <vector>

#include "backupset/BackupSet.h"
#include "base/BackupSetDefinition.h"
#include "foundation/XmlFile.h"

// Parses `bytes` as a definition file and reads its "backupset" element into
// `set` as addBackupSet does, without the registry; then takes the type, name
// and text of every node of the document. Returns false, leaving `set` alone,
// when the bytes are not a document with a "backupset" element.
inline bool runDefinitionFileInput(std::string_view bytes, BackupSet& set) {
    xml::XmlFile file;
    if (file.loadMemory(bytes) != 0)
        return false;
    xml::XmlNode* definition = file.findNode(L"backupset");
    if (definition == nullptr)
        return false;
    readBackupSetDefinition(*definition, set);

    std::vector<xml::XmlNode*> pending{file.getDocument()};
    while (!pending.empty()) {
        xml::XmlNode* node = pending.back();
        pending.pop_back();
        (void)node->getType();
        (void)node->getName();
        (void)node->toString();
        for (auto it = node->iterator(); it.hasNext();) pending.push_back(it.next());
    }
    return true;
}
