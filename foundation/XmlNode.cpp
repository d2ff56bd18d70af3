#include "foundation/XmlNode.h"

#include <libxml/entities.h>
#include <libxml/tree.h>

#include <algorithm>
#include <string>
#include <vector>

#include "foundation/TBException.h"
#include "foundation/TBResult.h"
#include "foundation/XmlFile.h"

namespace xml {

namespace {

const char* chars(const xmlChar* text) {
    return reinterpret_cast<const char*>(text);
}

// Appends the character data below `root` to `out`. Iterative, so that deep
// nesting cannot exhaust the stack. XmlFile::loadMemory has refused documents
// with entity loops or too much entity text, so the walk ends and stays small.
void appendText(const xmlNode* root, std::string& out) {
    std::vector<const xmlNode*> pending{root};
    // Children are pushed last to first so that they come off in document order.
    auto pushChildren = [&pending](const xmlNode* first) {
        const size_t mark = pending.size();
        for (const xmlNode* child = first; child != nullptr; child = child->next) {
            pending.push_back(child);
        }
        std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(mark), pending.end());
    };
    while (!pending.empty()) {
        const xmlNode* node = pending.back();
        pending.pop_back();
        switch (node->type) {
            case XML_TEXT_NODE:
            case XML_CDATA_SECTION_NODE:
                if (node->content != nullptr)
                    out.append(chars(node->content));
                break;
            case XML_COMMENT_NODE:
            case XML_PI_NODE:
                // Markup below an element, but the text of the node asked about.
                if (node == root && node->content != nullptr)
                    out.append(chars(node->content));
                break;
            case XML_ELEMENT_NODE:
            case XML_DOCUMENT_NODE:
                pushChildren(node->children);
                break;
            case XML_ENTITY_REF_NODE: {
                const xmlEntity* entity = xmlGetDocEntity(node->doc, node->name);
                // External entities were never loaded and stand for nothing.
                if (entity != nullptr && entity->etype == XML_INTERNAL_GENERAL_ENTITY) {
                    pushChildren(entity->children);
                }
                break;
            }
            default:
                break;
        }
    }
}

}  // namespace

XmlNode* XmlNode::Iterator::next() {
    if (next_ == nullptr) {
        TB_THROW(
            terbin::TBNoSuchElementException,
            "no further child node (last error " + std::to_string(tb_status_getLastError()) + ")");
    }
    _xmlNode* current = next_;
    next_ = current->next;
    return file_->wrap(current);
}

int32_t XmlNode::getType() const {
    switch (node_->type) {
        case XML_ELEMENT_NODE:
            return XmlElementNode;
        case XML_TEXT_NODE:
            return XmlTextNode;
        case XML_CDATA_SECTION_NODE:
            return XmlCDataNode;
        case XML_ENTITY_REF_NODE:
            return XmlEntityReferenceNode;
        case XML_PI_NODE:
            return XmlProcessingInstructionNode;
        case XML_COMMENT_NODE:
            return XmlCommentNode;
        case XML_DOCUMENT_NODE:
            return XmlDocumentNode;
        default:
            return XmlOtherNode;
    }
}

terbin::TBString XmlNode::getName() const {
    if (node_->type != XML_ELEMENT_NODE || node_->name == nullptr)
        return {};
    return terbin::TBString::fromBytes(chars(node_->name));
}

XmlNode* XmlNode::findNode(const terbin::TBString& name) {
    const std::string wanted = name.narrow();
    for (xmlNode* child = node_->children; child != nullptr; child = child->next) {
        if (child->type == XML_ELEMENT_NODE && child->name != nullptr &&
            wanted == chars(child->name)) {
            return file_.wrap(child);
        }
    }
    return nullptr;
}

terbin::TBString XmlNode::toString() const {
    std::string text;
    appendText(node_, text);
    return terbin::TBString::fromBytes(text);
}

XmlNode::Iterator XmlNode::iterator() {
    return Iterator(file_, node_->children);
}

}  // namespace xml
