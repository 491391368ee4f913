#include "platform/XmlDocument.h"

#include <libxml/parser.h>
#include <libxml/xpath.h>
#include <limits>

struct CXmlDocument::Doc {
    xmlDocPtr doc = nullptr;
    ~Doc() { xmlFreeDoc(doc); }
};

std::optional<std::string> CXmlElement::GetAttribute(const char* name) const
{
    xmlChar* value = xmlGetNoNsProp(static_cast<xmlNodePtr>(m_pNode), reinterpret_cast<const xmlChar*>(name));
    if (!value)
        return std::nullopt;
    std::string text(reinterpret_cast<const char*>(value));
    xmlFree(value);
    return text;
}

CXmlDocument::CXmlDocument() : m_pDoc(std::make_unique<Doc>()) {}

CXmlDocument::~CXmlDocument() = default;

bool CXmlDocument::LoadXML(std::string_view text)
{
    xmlFreeDoc(m_pDoc->doc);
    m_pDoc->doc = nullptr;
    if (text.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        return false;
    constexpr int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NOCDATA;
    m_pDoc->doc = xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, "UTF-8", options);
    return m_pDoc->doc != nullptr;
}

std::vector<CXmlElement> CXmlDocument::SelectNodes(const char* xpath) const
{
    std::vector<CXmlElement> elements;
    if (!m_pDoc->doc)
        return elements;
    xmlXPathContextPtr context = xmlXPathNewContext(m_pDoc->doc);
    xmlXPathObjectPtr result = context ? xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(xpath), context) : nullptr;
    if (result && result->nodesetval) {
        for (int i = 0; i < result->nodesetval->nodeNr; ++i) {
            xmlNodePtr node = result->nodesetval->nodeTab[i];
            if (node->type == XML_ELEMENT_NODE)
                elements.push_back(CXmlElement(node));
        }
    }
    xmlXPathFreeObject(result);
    xmlXPathFreeContext(context);
    return elements;
}
