// One node of a parsed XML document (xml::XmlFile): its kind, its text, the
// first child element of a given name, and an iterator over its children.
// Nodes belong to the XmlFile that produced them and stay valid until that
// file is loaded again or destroyed.
#pragma once

#include <cstdint>

#include "foundation/TBString.h"

struct _xmlNode;

namespace xml {

class XmlFile;

// Kinds of node that getType() reports. Element is 2; the other kinds keep the
// numbers the XML library gives them.
enum XmlNodeType : int32_t {
    XmlOtherNode = 0,
    XmlElementNode = 2,
    XmlTextNode = 3,
    XmlCDataNode = 4,
    XmlEntityReferenceNode = 5,
    XmlProcessingInstructionNode = 7,
    XmlCommentNode = 8,
    XmlDocumentNode = 9,
};

class XmlNode {
public:
    // Java-style walk over every child of a node, in document order: elements,
    // text (including the blanks between elements), CDATA sections, comments,
    // processing instructions and entity references alike.
    class Iterator {
    public:
        bool hasNext() const { return next_ != nullptr; }
        // The next child. Throws terbin::TBNoSuchElementException past the end.
        XmlNode* next();

    private:
        friend class XmlNode;
        Iterator(XmlFile& file, _xmlNode* first) : file_(&file), next_(first) {}

        XmlFile* file_;
        _xmlNode* next_;
    };

    XmlNode(const XmlNode&) = delete;
    XmlNode& operator=(const XmlNode&) = delete;

    // One of XmlNodeType.
    int32_t getType() const;
    // The element's name without namespace prefix; empty for nodes that have
    // no name of their own.
    terbin::TBString getName() const;
    // The first child element named `name` (compared exactly, as XML does);
    // null when there is none.
    XmlNode* findNode(const terbin::TBString& name);
    // The text of the node: for an element or the document, every text and
    // CDATA section below it concatenated in document order, markup left
    // out; for a text, CDATA, comment or processing instruction, its own
    // content. References to entities declared in the document's own DTD
    // are replaced by their text; other references contribute nothing.
    terbin::TBString toString() const;
    Iterator iterator();

private:
    friend class XmlFile;
    XmlNode(XmlFile& file, _xmlNode* node) : file_(file), node_(node) {}

    XmlFile& file_;
    _xmlNode* node_;
};

}  // namespace xml
