// An XML document read from a file or from memory, for small configuration
// documents such as backup set definition files.
//
// Documents are untrusted input. Parsing never touches the network and never
// loads an external DTD or external entity (a reference to one stays
// unexpanded). Input larger than MaxFileSize is refused, and so is a document
// whose references to its own entities would stand for more than
// MaxEntityText bytes of text in all, or chain more than MaxEntityDepth, so
// that no walk over a loaded document can produce much more text than the
// file holds. Nesting depth is limited by the parser. Parse errors are not
// printed. The first XmlFile made replaces the XML library's process-wide
// loader of external resources by one that refuses them all.
//
// Threads: one XmlFile per thread; different files may be used at once.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <unordered_map>

#include "foundation/TBString.h"
#include "foundation/XmlNode.h"

struct _xmlDoc;
struct _xmlNode;

namespace xml {

class XmlFile {
public:
    // Largest input accepted, in bytes.
    static constexpr int64_t MaxFileSize = 16 * 1024 * 1024;
    // Most text that entity references of one document may stand for, in bytes.
    static constexpr int64_t MaxEntityText = 1024 * 1024;
    // Most entities in a chain of entities referring to entities.
    static constexpr int MaxEntityDepth = 8;
    // Result of load for input that is not a well-formed XML document
    // (empty, truncated, not XML, or over the limits on entities and depth).
    static constexpr uint32_t Malformed = 13;
    // Result of load for input larger than MaxFileSize.
    static constexpr uint32_t FileTooLarge = 223;

    XmlFile();
    ~XmlFile();
    XmlFile(const XmlFile&) = delete;
    XmlFile& operator=(const XmlFile&) = delete;

    // Reads and parses the file at `path`. Returns 0 on success; else the
    // result code of opening or reading it (2 when it does not exist),
    // FileTooLarge or Malformed, and the file holds no document. The codes
    // are also left in tb_status_getLastError(). Every node handed out
    // before is invalid afterwards, whatever the result.
    uint32_t load(const terbin::TBString& path);
    // Parses `bytes` as load does a file's contents.
    uint32_t loadMemory(std::string_view bytes);

    bool isLoaded() const { return document_ != nullptr; }
    // The document node; null when nothing is loaded.
    XmlNode* getDocument();
    // The first top-level element named `name` (the root element, when it
    // has that name); null when there is none or nothing is loaded.
    XmlNode* findNode(const terbin::TBString& name);

private:
    friend class XmlNode;
    // The one XmlNode that stands for `node` in this file.
    XmlNode* wrap(_xmlNode* node);
    void clear();

    _xmlDoc* document_ = nullptr;
    std::unordered_map<const _xmlNode*, std::unique_ptr<XmlNode>> nodes_;
};

}  // namespace xml
