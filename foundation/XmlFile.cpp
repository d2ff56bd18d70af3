#include "foundation/XmlFile.h"

#include <libxml/entities.h>
#include <libxml/globals.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "foundation/TBFile.h"
#include "foundation/TBFileInfo.h"
#include "foundation/TBResult.h"

namespace xml {

namespace {

// No XML_PARSE_NOENT and no XML_PARSE_DTDLOAD: entities stay references and no
// external subset is fetched. No XML_PARSE_HUGE: the library's limits on
// depth and entity amplification stay in force. No XML_PARSE_RECOVER: a
// damaged document is refused rather than half read.
constexpr int ParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

// Stands in for the library's process-wide loader of external entities and
// DTDs. Nothing in this system reads XML from anywhere but its own input, so a
// document can never make the parser open a file or a URL, whatever options a
// later change might pass.
xmlParserInputPtr refuseExternalEntity(const char*, const char*, xmlParserCtxtPtr) {
    return nullptr;
}

// Some errors (of character conversion, for one) bypass the context and its
// XML_PARSE_NOERROR and go to the thread's error handlers, which print them.
// The library keeps those handlers per thread, so replacing them for the
// length of a parse affects no other thread.
class QuietErrors {
public:
    QuietErrors()
        : structured_(xmlStructuredError),
          structuredContext_(xmlStructuredErrorContext),
          generic_(xmlGenericError),
          genericContext_(xmlGenericErrorContext) {
        xmlSetStructuredErrorFunc(nullptr, ignoreStructured);
        xmlSetGenericErrorFunc(nullptr, ignoreGeneric);
    }
    ~QuietErrors() {
        xmlSetStructuredErrorFunc(structuredContext_, structured_);
        xmlSetGenericErrorFunc(genericContext_, generic_);
    }
    QuietErrors(const QuietErrors&) = delete;
    QuietErrors& operator=(const QuietErrors&) = delete;

private:
    static void ignoreStructured(void*, xmlErrorPtr) {}
    static void ignoreGeneric(void*, const char*, ...) {}

    xmlStructuredErrorFunc structured_;
    void* structuredContext_;
    xmlGenericErrorFunc generic_;
    void* genericContext_;
};

using EntitySizes = std::unordered_map<const xmlEntity*, uint64_t>;

uint64_t entityText(const xmlNode* reference, EntitySizes& sizes, int depth, uint64_t cap);

// Bytes of text in the sibling chain from `first` and below it: the text that
// entity references stand for, and with `countLiteral` the document's own
// text too. Saturates at `cap`.
uint64_t measureText(const xmlNode* first, bool countLiteral, EntitySizes& sizes, int depth,
                     uint64_t cap) {
    uint64_t total = 0;
    auto add = [&total, cap](uint64_t bytes) {
        total = bytes >= cap - total ? cap : total + bytes;
    };
    std::vector<const xmlNode*> pending;
    for (const xmlNode* node = first; node != nullptr; node = node->next) pending.push_back(node);
    while (!pending.empty() && total < cap) {
        const xmlNode* node = pending.back();
        pending.pop_back();
        switch (node->type) {
            case XML_TEXT_NODE:
            case XML_CDATA_SECTION_NODE:
                if (countLiteral && node->content != nullptr) {
                    add(std::strlen(reinterpret_cast<const char*>(node->content)));
                }
                break;
            case XML_ELEMENT_NODE:
                for (const xmlNode* c = node->children; c != nullptr; c = c->next) {
                    pending.push_back(c);
                }
                break;
            case XML_ENTITY_REF_NODE:
                add(entityText(node, sizes, depth, cap));
                break;
            default:
                break;
        }
    }
    return total;
}

// The text an entity reference stands for, nested references included. Each
// entity is measured once, so entities that refer to each other many times
// over cost time in proportion to their declarations, not their expansion. A
// loop, or nesting deeper than MaxEntityDepth, counts as `cap`.
uint64_t entityText(const xmlNode* reference, EntitySizes& sizes, int depth, uint64_t cap) {
    const xmlEntity* entity = xmlGetDocEntity(reference->doc, reference->name);
    if (entity == nullptr || entity->etype != XML_INTERNAL_GENERAL_ENTITY)
        return 0;
    constexpr uint64_t Measuring = UINT64_MAX;
    auto [slot, isNew] = sizes.try_emplace(entity, Measuring);
    if (!isNew)
        return slot->second == Measuring ? cap : slot->second;
    // A reference to the element stays valid while the table grows.
    uint64_t& size = slot->second;
    size = depth >= XmlFile::MaxEntityDepth
               ? cap
               : measureText(entity->children, true, sizes, depth + 1, cap);
    return size;
}

}  // namespace

XmlFile::XmlFile() {
    // The library's global tables must be set up once before threads parse.
    static std::once_flag initialised;
    std::call_once(initialised, [] {
        xmlInitParser();
        xmlSetExternalEntityLoader(refuseExternalEntity);
    });
}

XmlFile::~XmlFile() {
    clear();
}

void XmlFile::clear() {
    nodes_.clear();
    if (document_ != nullptr) {
        xmlFreeDoc(document_);
        document_ = nullptr;
    }
}

uint32_t XmlFile::load(const terbin::TBString& path) {
    clear();
    std::string bytes;
    const uint32_t rc = terbin::TBFile::readAll(path, bytes, MaxFileSize);
    if (rc == terbin::TB_FILE_TOO_LARGE)
        return tb_status_fail(FileTooLarge);
    if (rc != 0)
        return tb_status_fail(rc);
    return loadMemory(bytes);
}

uint32_t XmlFile::loadMemory(std::string_view bytes) {
    clear();
    if (static_cast<int64_t>(bytes.size()) > MaxFileSize)
        return tb_status_fail(FileTooLarge);
    if (bytes.empty())
        return tb_status_fail(Malformed);
    const QuietErrors quiet;
    xmlParserCtxtPtr context = xmlNewParserCtxt();
    if (context == nullptr)
        return tb_status_fail(terbin::TB_NOT_ENOUGH_MEMORY);
    xmlDocPtr document = xmlCtxtReadMemory(context, bytes.data(), static_cast<int>(bytes.size()),
                                           nullptr, nullptr, ParseOptions);
    const bool wellFormed = context->wellFormed != 0;
    xmlFreeParserCtxt(context);
    if (document == nullptr || !wellFormed || xmlDocGetRootElement(document) == nullptr) {
        if (document != nullptr)
            xmlFreeDoc(document);
        return tb_status_fail(Malformed);
    }
    EntitySizes sizes;
    const uint64_t cap = static_cast<uint64_t>(MaxEntityText) + 1;
    if (measureText(document->children, false, sizes, 0, cap) >= cap) {
        xmlFreeDoc(document);
        return tb_status_fail(Malformed);
    }
    document_ = document;
    return 0;
}

XmlNode* XmlFile::getDocument() {
    if (document_ == nullptr)
        return nullptr;
    return wrap(reinterpret_cast<xmlNodePtr>(document_));
}

XmlNode* XmlFile::findNode(const terbin::TBString& name) {
    XmlNode* document = getDocument();
    return document == nullptr ? nullptr : document->findNode(name);
}

XmlNode* XmlFile::wrap(_xmlNode* node) {
    std::unique_ptr<XmlNode>& slot = nodes_[node];
    if (!slot)
        slot.reset(new XmlNode(*this, node));
    return slot.get();
}

}  // namespace xml
