#pragma once
// An XML document parsed from text, over libxml2: strictly (a document that is not well-formed
// gives no document at all), as UTF-8 whatever it declares, without network access or external
// entities.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CXmlElement {
public:
    // The attribute's value, or nothing when the element has no such attribute.
    std::optional<std::string> GetAttribute(const char* name) const;

private:
    friend class CXmlDocument;
    explicit CXmlElement(void* node) : m_pNode(node) {}
    void* m_pNode;
};

class CXmlDocument {
public:
    CXmlDocument();
    ~CXmlDocument();
    CXmlDocument(const CXmlDocument&) = delete;
    CXmlDocument& operator=(const CXmlDocument&) = delete;

    // False, leaving the document empty, when the text is not well-formed.
    bool LoadXML(std::string_view text);
    // The elements an XPath expression selects, in document order; empty for an empty document.
    // Valid while the document lives and is not loaded again.
    std::vector<CXmlElement> SelectNodes(const char* xpath) const;

private:
    struct Doc;
    std::unique_ptr<Doc> m_pDoc;
};
