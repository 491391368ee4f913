#include "platform/XmlReader.h"

#include <libxml/xmlreader.h>
#include <limits>
#include <memory>

#include "platform/TextEncoding.h"

namespace {

std::string_view View(const xmlChar* text)
{
    return text ? std::string_view(reinterpret_cast<const char*>(text)) : std::string_view();
}

struct ReaderDeleter {
    void operator()(xmlTextReaderPtr reader) const { xmlFreeTextReader(reader); }
};

// Whether the text opens with an XML declaration that names its encoding.
bool DeclaresEncoding(std::string_view text)
{
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    if (!text.starts_with("<?xml"))
        return false;
    const std::string_view declaration = text.substr(0, text.find("?>"));
    return declaration.find("encoding") != std::string_view::npos;
}

// The encoding to read the text in when it declares none.
const char* UndeclaredEncoding(std::string_view text)
{
    return DeclaresEncoding(text) || IsValidUtf8(text) ? nullptr : "GBK";
}

}  // namespace

std::optional<std::string> CXmlAttributes::Get(std::string_view name) const
{
    for (const auto& [key, value] : m_values)
        if (key == name)
            return value;
    return std::nullopt;
}

bool ReadXmlElements(std::string_view text, const std::vector<std::string>& path,
                     const std::function<void(const CXmlAttributes&)>& onElement)
{
    if (path.empty() || text.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        return false;
    constexpr int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
    std::unique_ptr<xmlTextReader, ReaderDeleter> reader(xmlReaderForMemory(
        text.data(), static_cast<int>(text.size()), nullptr, UndeclaredEncoding(text), options));
    if (!reader)
        return false;

    // onPath[d]: the element open at depth d and every one above it are the path's.
    std::vector<bool> onPath;
    CXmlAttributes attributes;
    int status;
    while ((status = xmlTextReaderRead(reader.get())) == 1) {
        if (xmlTextReaderNodeType(reader.get()) != XML_READER_TYPE_ELEMENT)
            continue;
        const auto depth = static_cast<std::size_t>(xmlTextReaderDepth(reader.get()));
        onPath.resize(depth + 1);
        onPath[depth] = depth < path.size() && (depth == 0 || onPath[depth - 1]) &&
                        !xmlTextReaderConstNamespaceUri(reader.get()) &&
                        View(xmlTextReaderConstLocalName(reader.get())) == path[depth];
        if (!onPath[depth] || depth + 1 != path.size())
            continue;
        attributes.m_values.clear();
        for (int more = xmlTextReaderMoveToFirstAttribute(reader.get()); more == 1;
             more = xmlTextReaderMoveToNextAttribute(reader.get())) {
            if (!xmlTextReaderConstNamespaceUri(reader.get()))
                attributes.m_values.emplace_back(View(xmlTextReaderConstLocalName(reader.get())),
                                                 View(xmlTextReaderConstValue(reader.get())));
        }
        xmlTextReaderMoveToElement(reader.get());
        onElement(attributes);
    }
    return status == 0;
}
