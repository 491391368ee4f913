#include "platform/SystemProxy.h"

#include <vector>

namespace {

// The entries of a list separated by ';', ',' or blanks.
std::vector<std::string_view> Entries(std::string_view list)
{
    std::vector<std::string_view> entries;
    while (!list.empty()) {
        const std::size_t end = list.find_first_of("; ,\t");
        if (end != 0)
            entries.push_back(list.substr(0, end));
        list.remove_prefix(end == std::string_view::npos ? list.size() : end + 1);
    }
    return entries;
}

// The proxy for http requests (which reach https servers through it too), by preference: the one
// for every scheme, the one for http, the one for https, a SOCKS one.
std::optional<std::string> ChooseProxy(std::string_view proxyList)
{
    std::optional<std::string> chosen;
    int chosenRank = 99;
    for (std::string_view entry : Entries(proxyList)) {
        const std::size_t equals = entry.find('=');
        const std::string_view scheme = equals == std::string_view::npos ? "" : entry.substr(0, equals);
        const std::string_view address = equals == std::string_view::npos ? entry : entry.substr(equals + 1);
        const int rank = scheme.empty() ? 0 : scheme == "http" ? 1 : scheme == "https" ? 2 : scheme == "socks" ? 3 : 99;
        if (address.empty() || rank >= chosenRank)
            continue;
        chosenRank = rank;
        chosen = (rank == 3 ? "socks4://" : "") + std::string(address);
    }
    return chosen;
}

std::string BypassForCurl(std::string_view bypassList)
{
    std::string bypass;
    const auto add = [&bypass](std::string_view host) {
        if (!bypass.empty())
            bypass += ',';
        bypass += host;
    };
    for (std::string_view entry : Entries(bypassList)) {
        if (entry == "<local>") {
            add("localhost,127.0.0.1,::1");
        } else if (entry.starts_with("*.")) {
            add(entry.substr(1));  // libcurl's ".corp.example" is the domain and its hosts
        } else {
            add(entry);
        }
    }
    return bypass;
}

}  // namespace

std::optional<ProxySettings> ProxyFromWindowsSettings(std::string_view proxyList, std::string_view bypassList)
{
    std::optional<std::string> server = ChooseProxy(proxyList);
    if (!server)
        return std::nullopt;
    return ProxySettings{*server, BypassForCurl(bypassList)};
}
