#include "ConnectionTable.h"

#include "HttpSession.h"

using Clock = std::chrono::steady_clock;

bool ConnectionTable::admit(const std::string &address, const std::shared_ptr<HttpSession> &session)
{
    std::shared_ptr<HttpSession> victim;
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto &connections = byAddress[address];
        if (connections.size() >= cap) {
            auto oldest = connections.end();
            for (auto it = connections.begin(); it != connections.end(); ++it)
                if (it->second.waiting && (oldest == connections.end() || it->second.since < oldest->second.since))
                    oldest = it;
            if (oldest == connections.end())
                return false;
            victim = oldest->second.session.lock();
            connections.erase(oldest);
        }
        connections[session.get()] = Entry{session, true, Clock::now()};
    }
    if (victim)
        cutConnection(victim);
    return true;
}

void ConnectionTable::setWaiting(const HttpSession *session, const std::string &address, bool waiting)
{
    std::lock_guard<std::mutex> lock(mutex);
    const auto connections = byAddress.find(address);
    if (connections == byAddress.end())
        return;
    const auto found = connections->second.find(session);
    if (found == connections->second.end())
        return;
    found->second.waiting = waiting;
    found->second.since = Clock::now();
}

void ConnectionTable::remove(const HttpSession *session, const std::string &address)
{
    std::lock_guard<std::mutex> lock(mutex);
    const auto connections = byAddress.find(address);
    if (connections == byAddress.end())
        return;
    connections->second.erase(session);
    if (connections->second.empty())
        byAddress.erase(connections);
}
