#include "platform/XmlReader.h"

#include <algorithm>
#include <cctype>
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

// The encoding the XML declaration names, lower case; empty without one.
std::string DeclaredEncoding(std::string_view text)
{
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    if (!text.starts_with("<?xml"))
        return {};
    const std::string_view declaration = text.substr(0, text.find("?>"));
    const std::size_t name = declaration.find("encoding");
    const std::size_t quote = declaration.find_first_of("\"'", name);
    const std::size_t end = quote == std::string_view::npos ? quote : declaration.find(declaration[quote], quote + 1);
    if (name == std::string_view::npos || end == std::string_view::npos)
        return {};
    std::string encoding(declaration.substr(quote + 1, end - quote - 1));
    for (char& c : encoding)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return encoding;
}

// The encoding to read the text in, overriding its declaration; null to let the declaration
// decide. Windows tools declare "gb2312" for text in code page 936, which is GBK: characters
// beyond GB2312 (such as 淺) must not fail the document.
const char* EncodingOverride(std::string_view text)
{
    const std::string declared = DeclaredEncoding(text);
    if (declared == "gb2312" || declared == "gbk" || declared == "cp936" || declared == "x-gbk" ||
        (declared.empty() && !IsValidUtf8(text)))
        return "GBK";
    return nullptr;
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
    return ReadXmlElements(text, std::vector<std::vector<std::string>>{path},
                           [&](std::size_t, const CXmlAttributes& attributes) { onElement(attributes); });
}

bool ReadXmlElements(std::string_view text, const std::vector<std::vector<std::string>>& paths,
                     const std::function<void(std::size_t, const CXmlAttributes&)>& onElement)
{
    if (paths.empty() || text.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        return false;
    const char* encoding = EncodingOverride(text);
    // An encoding given here replaces the declared one only when the declaration is ignored.
    const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | (encoding ? XML_PARSE_IGNORE_ENC : 0);
    std::unique_ptr<xmlTextReader, ReaderDeleter> reader(xmlReaderForMemory(
        text.data(), static_cast<int>(text.size()), nullptr, encoding, options));
    if (!reader)
        return false;

    // The names of the element open at each depth; one in a namespace is on no path.
    std::vector<std::optional<std::string>> open;
    CXmlAttributes attributes;
    int status;
    while ((status = xmlTextReaderRead(reader.get())) == 1) {
        if (xmlTextReaderNodeType(reader.get()) != XML_READER_TYPE_ELEMENT)
            continue;
        open.resize(static_cast<std::size_t>(xmlTextReaderDepth(reader.get())));
        if (xmlTextReaderConstNamespaceUri(reader.get()))
            open.emplace_back();
        else
            open.emplace_back(std::string(View(xmlTextReaderConstLocalName(reader.get()))));
        const auto on = std::find_if(paths.begin(), paths.end(), [&](const std::vector<std::string>& path) {
            return path.size() == open.size() &&
                   std::equal(path.begin(), path.end(), open.begin(), [](const std::string& name, const auto& opened) {
                       return opened && *opened == name;
                   });
        });
        if (on == paths.end())
            continue;
        attributes.m_values.clear();
        for (int more = xmlTextReaderMoveToFirstAttribute(reader.get()); more == 1;
             more = xmlTextReaderMoveToNextAttribute(reader.get())) {
            if (!xmlTextReaderConstNamespaceUri(reader.get()))
                attributes.m_values.emplace_back(View(xmlTextReaderConstLocalName(reader.get())),
                                                 View(xmlTextReaderConstValue(reader.get())));
        }
        xmlTextReaderMoveToElement(reader.get());
        onElement(static_cast<std::size_t>(on - paths.begin()), attributes);
    }
    return status == 0;
}
