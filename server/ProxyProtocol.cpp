#include "ProxyProtocol.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cctype>
#include <sstream>
#include <vector>

namespace {
// The protocol's own limit is 107 bytes with "\r\n".
constexpr std::size_t kLongestLine = 105;

std::optional<std::string> canonical(int family, const std::string &text)
{
    unsigned char bytes[sizeof(in6_addr)];
    char out[INET6_ADDRSTRLEN] = {};
    if (inet_pton(family, text.c_str(), bytes) != 1 || !inet_ntop(family, bytes, out, sizeof out))
        return std::nullopt;
    return normalAddress(out);
}

bool isPort(const std::string &text)
{
    if (text.empty() || text.size() > 5 || (text.size() > 1 && text[0] == '0') ||
        !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; }))
        return false;
    return std::stoi(text) <= 65535;
}
} // namespace

std::string normalAddress(const std::string &address)
{
    in6_addr v6{};
    if (inet_pton(AF_INET6, address.c_str(), &v6) == 1) {
        char out[INET6_ADDRSTRLEN] = {};
        if (IN6_IS_ADDR_V4MAPPED(&v6))
            inet_ntop(AF_INET, &v6.s6_addr[12], out, sizeof out);
        else
            inet_ntop(AF_INET6, &v6, out, sizeof out);
        return out;
    }
    in_addr v4{};
    char out[INET_ADDRSTRLEN] = {};
    if (inet_pton(AF_INET, address.c_str(), &v4) == 1 && inet_ntop(AF_INET, &v4, out, sizeof out))
        return out;
    return address;
}

std::optional<std::string> proxySource(const std::string &line)
{
    if (line.size() > kLongestLine || line.find('\0') != std::string::npos)
        return std::nullopt;
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t space = line.find(' ', start);
        fields.push_back(line.substr(start, space - start));
        if (space == std::string::npos)
            break;
        start = space + 1;
    }
    if (fields.size() != 6 || fields[0] != "PROXY" || !isPort(fields[4]) || !isPort(fields[5]))
        return std::nullopt;
    const int family = fields[1] == "TCP4" ? AF_INET : fields[1] == "TCP6" ? AF_INET6 : 0;
    if (family == 0 || !canonical(family, fields[3]))
        return std::nullopt;
    return canonical(family, fields[2]);
}
