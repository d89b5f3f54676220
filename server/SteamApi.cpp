#include "SteamApi.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {
constexpr int kTimeoutSeconds = 10;
// GetPlayerBans for 100 accounts is some 20 KiB; far more is no answer of Steam's.
constexpr std::size_t kLargestAnswer = 1024 * 1024;

// A JSON integer that fits an int; false for anything else.
bool readInt(const nlohmann::json &value, int &out)
{
    if (!value.is_number_integer())
        return false;
    const auto number = value.get<long long>();
    if (number < 0 || number > 1000000)
        return false;
    out = static_cast<int>(number);
    return true;
}
} // namespace

bool isSteamId64(const std::string &account)
{
    return account.size() == 17 && account.compare(0, 7, "7656119") == 0 &&
           std::all_of(account.begin(), account.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

std::optional<std::map<std::string, PlayerBans>> parsePlayerBans(const std::string &body)
{
    const nlohmann::json document = nlohmann::json::parse(body, nullptr, false);
    if (document.is_discarded() || !document.is_object() || !document.contains("players") ||
        !document["players"].is_array())
        return std::nullopt;
    std::map<std::string, PlayerBans> found;
    for (const nlohmann::json &player : document["players"]) {
        if (!player.is_object())
            return std::nullopt;
        const auto field = [&player](const char *name) { return player.contains(name) ? player[name] : nullptr; };
        PlayerBans bans;
        if (!field("SteamId").is_string() || !field("VACBanned").is_boolean() ||
            !field("CommunityBanned").is_boolean() || !field("EconomyBan").is_string() ||
            !readInt(field("NumberOfVACBans"), bans.vacBans) || !readInt(field("NumberOfGameBans"), bans.gameBans) ||
            !readInt(field("DaysSinceLastBan"), bans.daysSinceLastBan))
            return std::nullopt;
        bans.vac = field("VACBanned").get<bool>();
        bans.community = field("CommunityBanned").get<bool>();
        bans.economy = field("EconomyBan").get<std::string>();
        found[field("SteamId").get<std::string>()] = bans;
    }
    return found;
}

SteamApi::SteamApi(const std::string &baseUrl, std::string key, std::string caFile)
    : key(std::move(key)), caFile(std::move(caFile))
{
    // Only HTTPS: ban data from a server that was not verified is worth nothing.
    const std::string scheme = "https://";
    if (baseUrl.compare(0, scheme.size(), scheme) != 0) {
        problem = "the Steam Web API URL must start with https://";
        return;
    }
    const std::size_t slash = baseUrl.find('/', scheme.size());
    origin = baseUrl.substr(0, slash);
    path = slash == std::string::npos ? "/" : baseUrl.substr(slash);
    if (path.back() != '/')
        path += '/';
    if (origin.size() == scheme.size())
        problem = "the Steam Web API URL has no host";
}

std::optional<std::map<std::string, PlayerBans>> SteamApi::getPlayerBans(const std::vector<std::string> &accounts,
                                                                         std::string &error) const
{
    std::string ids;
    for (const std::string &account : accounts)
        ids += (ids.empty() ? "" : ",") + account;

    httplib::Client client(origin);
    client.enable_server_certificate_verification(true);
    if (!caFile.empty())
        client.set_ca_cert_path(caFile.c_str());
    client.set_connection_timeout(kTimeoutSeconds, 0);
    client.set_read_timeout(kTimeoutSeconds, 0);
    client.set_write_timeout(kTimeoutSeconds, 0);
    client.set_follow_location(false);

    // One deadline for the whole call, however the upstream spaces its bytes: the client's own
    // time-outs are per read. At the deadline the connection is shut, which ends the request.
    std::mutex mutex;
    std::condition_variable answered;
    bool finished = false;
    bool cutOff = false;
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> lock(mutex);
        if (!answered.wait_for(lock, std::chrono::seconds(kTimeoutSeconds), [&] { return finished; })) {
            cutOff = true;
            client.stop();
        }
    });
    int status = 0;
    std::string body;
    bool tooLarge = false;
    const httplib::Result result = client.Get(
        (path + "ISteamUser/GetPlayerBans/v1/?key=" + httplib::detail::encode_query_param(key) + "&steamids=" + ids)
            .c_str(),
        [&status](const httplib::Response &response) {
            status = response.status;
            return true;
        },
        [&body, &tooLarge](const char *data, std::size_t length) {
            if (body.size() + length > kLargestAnswer) {
                tooLarge = true;
                return false;
            }
            body.append(data, length);
            return true;
        });
    {
        std::lock_guard<std::mutex> lock(mutex);
        finished = true;
    }
    answered.notify_one();
    watchdog.join();
    if (cutOff) {
        error = "no answer within " + std::to_string(kTimeoutSeconds) + " s";
        return std::nullopt;
    }
    if (tooLarge) {
        error = "an answer larger than 1 MiB";
        return std::nullopt;
    }
    if (!result) {
        error = "no answer (" + httplib::to_string(result.error()) + ")";
        return std::nullopt;
    }
    if (status != 200) {
        error = "HTTP status " + std::to_string(status);
        return std::nullopt;
    }
    std::optional<std::map<std::string, PlayerBans>> found = parsePlayerBans(body);
    if (!found)
        error = "an answer not in the documented shape";
    return found;
}
