#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>

class HttpSession;

// The connections of each address, which of them wait without a complete request, and the request
// bodies they hold while those arrive. Every limit is shared out per address: no one address may take
// all of one.
class ConnectionTable
{
public:
    // Bodies being received at once: each may be 16 MiB, and a thousand fast senders must not take the
    // machine's memory; one address holds at most its share.
    static constexpr std::size_t kBodiesInFlight = 256 * 1024 * 1024;
    static constexpr std::size_t kBodiesPerAddress = 32 * 1024 * 1024;

    ConnectionTable(int cap, int totalCap)
        : cap(static_cast<std::size_t>(cap)), totalCap(static_cast<std::size_t>(totalCap))
    {
    }

    // `session` now holds `size` bytes of a body (0 once it is handled). False when its address would
    // pass its share, or when all bodies together pass the budget and `session` belongs to the
    // address holding most; when another address holds most, its largest body is cut off instead.
    bool holdBody(const HttpSession *session, const std::string &address, std::size_t size);

    // Counts `session` for `address`. At the address's cap, its connection that has waited longest
    // without a complete request is cut off for it; at the server's cap, that of the address holding
    // most connections. False when all of those are at work.
    bool admit(const std::string &address, const std::shared_ptr<HttpSession> &session);
    void setWaiting(const HttpSession *session, const std::string &address, bool waiting);
    void remove(const HttpSession *session, const std::string &address);

private:
    struct Entry
    {
        std::weak_ptr<HttpSession> session;
        bool waiting = true;
        std::chrono::steady_clock::time_point since;
        std::size_t body = 0;
    };
    struct Address
    {
        std::map<const HttpSession *, Entry> connections;
        std::size_t bodies = 0;
    };
    // Drops `entry` of `from` from every count.
    void forgetLocked(Address &from, std::map<const HttpSession *, Entry>::iterator entry);
    // The connection holding the largest body of the address holding most, its key in `key`; null
    // when none holds any.
    std::shared_ptr<HttpSession> largestBodyLocked(const HttpSession *&key);

    const std::size_t cap;
    const std::size_t totalCap;
    std::mutex mutex;
    std::size_t connections = 0;
    std::map<std::string, Address> byAddress;
    std::size_t bodies = 0;
};
