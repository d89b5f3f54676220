#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

// One account's bans as Steam's Web API reports them.
struct PlayerBans
{
    bool vac = false;
    bool community = false;
    int vacBans = 0;
    int gameBans = 0;
    int daysSinceLastBan = 0;
    std::string economy = "none";
};

// GetPlayerBans' answer by SteamID64; empty when the text deviates from the documented shape.
std::optional<std::map<std::string, PlayerBans>> parsePlayerBans(const std::string &body);

// Whether `account` is a SteamID64 of an individual account: 17 digits starting 7656119.
bool isSteamId64(const std::string &account);

// A client of Steam's Web API (or a mirror of it) for ISteamUser/GetPlayerBans/v1, over HTTPS with
// the server's certificate always verified. The key goes into the query string only, never into an
// error text.
class SteamApi
{
public:
    // `caFile` empty: the system's certificate store.
    SteamApi(const std::string &baseUrl, std::string key, std::string caFile);

    // Empty when the base URL is usable, otherwise why not.
    const std::string &configurationError() const { return problem; }

    // The bans of up to 100 accounts in one call; empty with `error` set when the call failed, took
    // longer than 10 s to answer, or the answer was not the documented shape.
    std::optional<std::map<std::string, PlayerBans>> getPlayerBans(const std::vector<std::string> &accounts,
                                                                   std::string &error) const;

private:
    std::string origin; // https://host[:port]
    std::string path;   // the base URL's path, ending in '/'
    std::string key;
    std::string caFile;
    std::string problem;
};
