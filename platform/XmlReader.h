#pragma once
// XML text read as a stream, over libxml2: strictly (a document that is not well-formed is
// reported as such), without network access or external entities. The text is in the encoding
// it declares; undeclared, it is UTF-8, or GBK when it is not valid UTF-8 (what Chinese Windows
// tools write). Values are handed out as UTF-8. Memory does not grow with the document: only
// the elements asked for are handed out.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// An element's attributes that have no namespace, in document order.
class CXmlAttributes {
public:
    // The attribute's value, or nothing when the element has no such attribute.
    std::optional<std::string> Get(std::string_view name) const;

private:
    friend bool ReadXmlElements(std::string_view, const std::vector<std::vector<std::string>>&,
                                const std::function<void(std::size_t, const CXmlAttributes&)>&);
    std::vector<std::pair<std::string, std::string>> m_values;
};

// Hands the attributes of every element at the path (element names from the root down, none of
// them in a namespace, as the XPath "/a/b/c" selects them) to `onElement`, in document order.
// False when the text is not well-formed; elements before the fault have been handed out.
bool ReadXmlElements(std::string_view text, const std::vector<std::string>& path,
                     const std::function<void(const CXmlAttributes&)>& onElement);
// The same for several paths at once: each element on one of them goes to `onElement` with the
// path's index, in document order, so an element comes before the elements inside it.
bool ReadXmlElements(std::string_view text, const std::vector<std::vector<std::string>>& paths,
                     const std::function<void(std::size_t, const CXmlAttributes&)>& onElement);
