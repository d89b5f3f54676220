#pragma once

#include <optional>
#include <string>

// One text form per address: an IPv4-mapped IPv6 address ("::ffff:10.0.0.7", what a socket bound to
// "::" reports for an IPv4 peer) is its IPv4 form; other addresses in their canonical text. Text that
// is no address is returned as it is.
std::string normalAddress(const std::string &address);

// The source address of a PROXY protocol version 1 line, read strictly as the protocol defines it:
// "PROXY TCP4|TCP6 <source> <destination> <source port> <destination port>", single spaces, addresses
// of the family named, ports decimal 0-65535 without leading zeros, nothing else (the line's "\r\n"
// taken off, at most 105 characters). Empty for anything else, "PROXY UNKNOWN" included: a balancer
// that cannot say who connected is not let through.
std::optional<std::string> proxySource(const std::string &line);
