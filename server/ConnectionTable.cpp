#include "ConnectionTable.h"

#include "HttpSession.h"

#include <algorithm>

using Clock = std::chrono::steady_clock;

bool ConnectionTable::admit(const std::string &address, const std::shared_ptr<HttpSession> &session)
{
    std::shared_ptr<HttpSession> victim;
    {
        std::lock_guard<std::mutex> lock(mutex);
        Address &own = byAddress[address];
        // At the address's cap its own connection gives way; at the server's cap, one of the address
        // holding most.
        Address *from = &own;
        if (own.connections.size() < cap && connections >= totalCap) {
            from = &std::max_element(byAddress.begin(), byAddress.end(), [](const auto &a, const auto &b) {
                        return a.second.connections.size() < b.second.connections.size();
                    })->second;
        }
        if (own.connections.size() >= cap || connections >= totalCap) {
            auto oldest = from->connections.end();
            for (auto it = from->connections.begin(); it != from->connections.end(); ++it)
                if (it->second.waiting &&
                    (oldest == from->connections.end() || it->second.since < oldest->second.since))
                    oldest = it;
            if (oldest == from->connections.end()) {
                if (own.connections.empty())
                    byAddress.erase(address);
                return false;
            }
            victim = oldest->second.session.lock();
            forgetLocked(*from, oldest);
        }
        own.connections[session.get()] = Entry{session, true, Clock::now()};
        ++connections;
    }
    if (victim)
        cutConnection(victim);
    return true;
}

void ConnectionTable::setWaiting(const HttpSession *session, const std::string &address, bool waiting)
{
    std::lock_guard<std::mutex> lock(mutex);
    const auto found = byAddress.find(address);
    if (found == byAddress.end())
        return;
    const auto entry = found->second.connections.find(session);
    if (entry == found->second.connections.end())
        return;
    entry->second.waiting = waiting;
    entry->second.since = Clock::now();
}

void ConnectionTable::remove(const HttpSession *session, const std::string &address)
{
    std::lock_guard<std::mutex> lock(mutex);
    const auto found = byAddress.find(address);
    if (found == byAddress.end())
        return;
    const auto entry = found->second.connections.find(session);
    if (entry != found->second.connections.end())
        forgetLocked(found->second, entry);
    if (found->second.connections.empty())
        byAddress.erase(found);
}

bool ConnectionTable::holdBody(const HttpSession *session, const std::string &address, std::size_t size)
{
    std::shared_ptr<HttpSession> victim;
    {
        std::lock_guard<std::mutex> lock(mutex);
        const auto found = byAddress.find(address);
        if (found == byAddress.end())
            return size == 0;
        const auto entry = found->second.connections.find(session);
        if (entry == found->second.connections.end())
            return size == 0;
        found->second.bodies = found->second.bodies - entry->second.body + size;
        bodies = bodies - entry->second.body + size;
        entry->second.body = size;
        if (size == 0)
            return true;
        if (found->second.bodies > kBodiesPerAddress)
            return false;
        if (bodies > kBodiesInFlight) {
            const HttpSession *key = nullptr;
            victim = largestBodyLocked(key);
            if (key == session)
                return false;
        }
    }
    if (victim)
        cutConnection(victim);
    return true;
}

void ConnectionTable::forgetLocked(Address &from, std::map<const HttpSession *, Entry>::iterator entry)
{
    from.bodies -= entry->second.body;
    bodies -= entry->second.body;
    from.connections.erase(entry);
    --connections;
}

std::shared_ptr<HttpSession> ConnectionTable::largestBodyLocked(const HttpSession *&key)
{
    const auto most = std::max_element(byAddress.begin(), byAddress.end(),
                                       [](const auto &a, const auto &b) { return a.second.bodies < b.second.bodies; });
    if (most == byAddress.end() || most->second.bodies == 0)
        return nullptr;
    const auto largest = std::max_element(most->second.connections.begin(), most->second.connections.end(),
                                          [](const auto &a, const auto &b) { return a.second.body < b.second.body; });
    key = largest->first;
    return largest->second.session.lock();
}
