#include "PostgresStores.h"

#include <libpq-fe.h>

#include <iostream>

std::optional<BanCache::Entry> PostgresBanCache::get(const std::string &account)
{
    std::string error;
    std::unique_ptr<PostgresSession> session = database.session(error);
    if (!session) {
        std::cerr << "ban cache not read: " << error << std::endl;
        return std::nullopt;
    }
    const PostgresResult result =
        session->run("SELECT vac, community, vac_bans, game_bans, days_since_last_ban, economy, fetched "
                     "FROM ban_cache WHERE account = $1",
                     {account});
    if (!result.ok() || result.rows() != 1)
        return std::nullopt;
    Entry entry;
    entry.bans.vac = result.number(0, 0) != 0;
    entry.bans.community = result.number(0, 1) != 0;
    entry.bans.vacBans = static_cast<int>(result.number(0, 2));
    entry.bans.gameBans = static_cast<int>(result.number(0, 3));
    entry.bans.daysSinceLastBan = static_cast<int>(result.number(0, 4));
    entry.bans.economy = result.bytes(0, 5);
    entry.fetched = result.number(0, 6);
    return entry;
}

void PostgresBanCache::put(const std::string &account, const Entry &entry)
{
    std::string error;
    std::unique_ptr<PostgresSession> session = database.session(error);
    if (session &&
        !session
             ->run("INSERT INTO ban_cache VALUES ($1, $2, $3, $4, $5, $6, $7, $8) ON CONFLICT (account) DO UPDATE "
                   "SET vac = EXCLUDED.vac, community = EXCLUDED.community, vac_bans = EXCLUDED.vac_bans, "
                   "game_bans = EXCLUDED.game_bans, days_since_last_ban = EXCLUDED.days_since_last_ban, "
                   "economy = EXCLUDED.economy, fetched = EXCLUDED.fetched",
                   {account, static_cast<long long>(entry.bans.vac), static_cast<long long>(entry.bans.community),
                    static_cast<long long>(entry.bans.vacBans), static_cast<long long>(entry.bans.gameBans),
                    static_cast<long long>(entry.bans.daysSinceLastBan), entry.bans.economy, entry.fetched})
             .ok())
        error = session->error();
    if (!error.empty())
        std::cerr << "ban cache not written: " << error << std::endl;
}
