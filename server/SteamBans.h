#pragma once

#include "SteamApi.h"
#include "Stores.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// Ban lookups through Steam's Web API with a cache: a fresh cached answer is served without a call;
// lookups that arrive together share one call of at most 100 accounts; when Steam fails, an answer
// younger than a day is served, and otherwise none. For a while after Steam failed or timed out, a
// lookup the cache cannot answer fails at once instead of queueing behind another call that will.
class SteamBans
{
public:
    SteamBans(const SteamApi &api, BanCache &cache, long long cacheSeconds, std::chrono::seconds restAfterFailure);

    // Empty when Steam could not tell and nothing recent enough is cached.
    std::optional<PlayerBans> lookup(const std::string &account);

private:
    struct Batch
    {
        std::vector<std::string> accounts;
        bool done = false;
        std::optional<std::map<std::string, PlayerBans>> answer;
    };

    std::optional<PlayerBans> askSteam(const std::string &account);
    bool steamRestingLocked() const;

    const SteamApi &api;
    BanCache &cache;
    long long cacheSeconds;
    const std::chrono::seconds restAfterFailure;
    std::mutex mutex;
    std::condition_variable finished;
    std::shared_ptr<Batch> open;                                   // still taking accounts
    std::map<std::string, std::shared_ptr<Batch>> pending;         // account -> the batch that asks for it
    std::optional<std::chrono::steady_clock::time_point> failedAt; // Steam's last failure
};
