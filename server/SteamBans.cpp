#include "SteamBans.h"

#include <chrono>
#include <iostream>
#include <thread>

namespace {
constexpr std::size_t kMaxBatch = 100; // GetPlayerBans takes at most 100 ids
constexpr auto kGatherTime = std::chrono::milliseconds(15);
constexpr long long kStaleLimitSeconds = 86400; // an outage may be bridged with an answer this old

long long now()
{
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}
} // namespace

SteamBans::SteamBans(const SteamApi &api, BanCache &cache, long long cacheSeconds,
                     std::chrono::seconds restAfterFailure)
    : api(api), cache(cache), cacheSeconds(cacheSeconds), restAfterFailure(restAfterFailure)
{
}

std::optional<PlayerBans> SteamBans::lookup(const std::string &account)
{
    const std::optional<BanCache::Entry> cached = cache.get(account);
    const long long age = cached ? now() - cached->fetched : 0;
    if (cached && age >= 0 && age < cacheSeconds)
        return cached->bans;

    if (std::optional<PlayerBans> fresh = askSteam(account)) {
        cache.put(account, BanCache::Entry{*fresh, now()});
        return fresh;
    }
    if (cached && age >= 0 && age < kStaleLimitSeconds) {
        PlayerBans bans = cached->bans;
        // Days have passed since Steam counted them.
        if (bans.vac || bans.community || bans.gameBans > 0)
            bans.daysSinceLastBan += static_cast<int>(age / 86400);
        return bans;
    }
    return std::nullopt;
}

bool SteamBans::steamRestingLocked() const
{
    // Lookups would only queue behind Steam's time-outs.
    return failedAt && std::chrono::steady_clock::now() - *failedAt < restAfterFailure;
}

std::optional<PlayerBans> SteamBans::askSteam(const std::string &account)
{
    std::unique_lock<std::mutex> lock(mutex);
    if (steamRestingLocked())
        return std::nullopt;
    std::shared_ptr<Batch> batch;
    bool leader = false;
    const auto asked = pending.find(account);
    if (asked != pending.end()) {
        // Another lookup asks for this account already: its answer serves both.
        batch = asked->second;
    } else {
        if (!open || open->accounts.size() >= kMaxBatch) {
            open = std::make_shared<Batch>();
            leader = true;
        }
        batch = open;
        batch->accounts.push_back(account);
        pending[account] = batch;
    }

    if (leader) {
        // Let the lookups that arrive meanwhile join this call.
        lock.unlock();
        std::this_thread::sleep_for(kGatherTime);
        lock.lock();
        if (open == batch)
            open.reset();
        const std::vector<std::string> accounts = batch->accounts;
        lock.unlock();

        std::string error;
        std::optional<std::map<std::string, PlayerBans>> answer = api.getPlayerBans(accounts, error);
        if (!answer)
            std::cerr << "Steam ban lookup of " << accounts.size() << " accounts failed: " << error << std::endl;

        lock.lock();
        if (!answer)
            failedAt = std::chrono::steady_clock::now();
        batch->answer = std::move(answer);
        batch->done = true;
        for (const std::string &asked : accounts)
            pending.erase(asked);
        finished.notify_all();
    } else {
        finished.wait(lock, [&batch] { return batch->done; });
    }

    if (!batch->answer)
        return std::nullopt;
    // Steam leaves out accounts it does not know; that is no answer, not a clean account.
    const auto found = batch->answer->find(account);
    if (found == batch->answer->end())
        return std::nullopt;
    return found->second;
}
