#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>

class HttpSession;

// The connections of each address, and which of them wait without a complete request.
class ConnectionTable
{
public:
    explicit ConnectionTable(int cap) : cap(static_cast<std::size_t>(cap)) {}

    // Counts `session` for `address`. At the cap, the address's connection that has waited longest
    // without a complete request is cut off for it; false when all of them are at work.
    bool admit(const std::string &address, const std::shared_ptr<HttpSession> &session);
    void setWaiting(const HttpSession *session, const std::string &address, bool waiting);
    void remove(const HttpSession *session, const std::string &address);

private:
    struct Entry
    {
        std::weak_ptr<HttpSession> session;
        bool waiting = true;
        std::chrono::steady_clock::time_point since;
    };
    const std::size_t cap;
    std::mutex mutex;
    std::map<std::string, std::map<const HttpSession *, Entry>> byAddress;
};
