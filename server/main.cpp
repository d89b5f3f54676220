// vigilor-content-server: the reference content server. It serves the start-up documents and files of
// a content folder and answers ban lookups from Steam's Web API and the league's own SQLite table,
// over HTTPS, bound to loopback unless told otherwise.

#include "BanStore.h"
#include "ConnectionGuard.h"
#include "Options.h"
#include "ReportPages.h"
#include "ReportStore.h"
#include "SteamBans.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

namespace {

// A report carries every execution trace of the machine, which can run to a few MiB.
constexpr std::size_t kMaxReportBytes = 16 * 1024 * 1024;
constexpr int kListedReports = 500;

// At most `limit` requests a minute from one address.
class RateLimit
{
public:
    explicit RateLimit(int limit) : limit(limit) {}

    bool allow(const std::string &address)
    {
        const auto now = std::chrono::steady_clock::now();
        std::lock_guard<std::mutex> lock(mutex);
        std::deque<std::chrono::steady_clock::time_point> &times = recent[address];
        while (!times.empty() && now - times.front() >= std::chrono::minutes(1))
            times.pop_front();
        if (static_cast<int>(times.size()) >= limit)
            return false;
        times.push_back(now);
        return true;
    }

private:
    int limit;
    std::mutex mutex;
    std::map<std::string, std::deque<std::chrono::steady_clock::time_point>> recent;
};

struct Document
{
    const char *path;
    const char *file;
    const char *type;
};

// What each request path serves from the content folder.
const Document kDocuments[] = {
    {"/version", "version.json", "application/json"},
    {"/detection_data", "detection_data.json", "application/json"},
    {"/motd", "motd.html", "text/html; charset=utf-8"},
    {"/everything", "everything.json", "application/json"},
    {"/unzip/dll", "unzip32.dll", "application/octet-stream"},
    {"/unzip/exe", "unzip.exe", "application/octet-stream"},
    {"/pack", "pack.zip", "application/zip"},
};

// Only a regular file is content: a folder opens as a stream too, and reads as nothing.
bool readFile(const std::string &path, std::string &content)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return false;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad())
        return false;
    content = buffer.str();
    return true;
}

std::string jsonString(const std::string &text)
{
    std::string out = "\"";
    for (const unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string failure(const std::string &message)
{
    return "{\"ok\":false,\"message\":" + jsonString(message) + "}";
}

void fail(httplib::Response &response, int status, const std::string &message)
{
    response.status = status;
    response.set_content(failure(message), "application/json");
}

const char *jsonBool(bool value)
{
    return value ? "true" : "false";
}

// The file's content without surrounding white space; empty when it cannot be read.
std::string readTrimmed(const std::string &path)
{
    std::string text;
    if (!readFile(path, text))
        return std::string();
    const auto first = text.find_first_not_of(" \t\r\n");
    const auto last = text.find_last_not_of(" \t\r\n");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

std::string json(const nlohmann::json &value)
{
    return value.dump();
}

int verifyReports(const std::string &content)
{
    const std::string path = content + "/reports.sqlite";
    if (!std::filesystem::exists(path)) {
        std::cerr << "no reports at " << path << "\n";
        return 2;
    }
    ReportStore store(path);
    if (!store.isOpen()) {
        std::cerr << "cannot open " << path << ": " << store.error() << "\n";
        return 2;
    }
    long long checked = 0;
    std::string head;
    const auto broken = store.firstBreak(checked, head);
    if (broken) {
        std::cout << "chain broken at report " << broken->first.id << " (number " << broken->first.seq << ", received "
                  << broken->first.received << "): " << broken->second << std::endl;
        return 1;
    }
    std::cout << "chain holds over " << checked << " reports; last chain value " << head << std::endl;
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    if (!parseOptions(argc, argv, options)) {
        usage(std::cerr);
        return 2;
    }
    if (options.help) {
        usage(std::cout);
        return 0;
    }
    if (options.verifyReports)
        return verifyReports(options.content);

    httplib::SSLServer server(options.cert.c_str(), options.key.c_str());
    if (!server.is_valid()) {
        std::cerr << "cannot use the certificate " << options.cert << " with the key " << options.key << "\n";
        return 1;
    }

    for (const Document &document : kDocuments) {
        const std::string file = options.content + "/" + document.file;
        const std::string type = document.type;
        server.Get(document.path, [file, type](const httplib::Request &, httplib::Response &response) {
            std::string body;
            if (!readFile(file, body)) {
                response.status = 404;
                response.set_content("not found", "text/plain");
                return;
            }
            response.set_content(body, type.c_str());
        });
    }

    BanStore bans(options.content + "/bans.sqlite");
    if (!bans.isOpen())
        std::cerr << "bans table unavailable: " << bans.error() << "\n";

    std::unique_ptr<SteamApi> steamApi;
    std::unique_ptr<BanCache> banCache;
    std::unique_ptr<SteamBans> steam;
    if (options.steamKeyFile.empty()) {
        std::cout << "Steam lookups off (no --steam-api-key-file): bans come from bans.sqlite only" << std::endl;
    } else {
        const std::string key = readTrimmed(options.steamKeyFile);
        if (key.empty()) {
            std::cerr << "no Steam Web API key in " << options.steamKeyFile << "\n";
            return 1;
        }
        steamApi = std::make_unique<SteamApi>(options.steamUrl, key, options.steamCa);
        if (!steamApi->configurationError().empty()) {
            std::cerr << steamApi->configurationError() << "\n";
            return 1;
        }
        banCache = std::make_unique<BanCache>(options.content + "/ban-cache.sqlite");
        if (!banCache->isOpen()) {
            std::cerr << "ban cache unavailable: " << banCache->error() << "\n";
            return 1;
        }
        steam = std::make_unique<SteamBans>(*steamApi, *banCache, options.banCacheSeconds);
        std::cout << "Steam lookups on at " << options.steamUrl << ", answers cached for " << options.banCacheSeconds
                  << " s" << std::endl;
    }
    // With Steam on, a league without a table of its own has no extra bans; without it, the table is
    // all there is.
    const bool tableRequired = !steam || std::filesystem::exists(options.content + "/bans.sqlite");

    std::mutex bansMutex;
    server.Get("/bans", [&](const httplib::Request &request, httplib::Response &response) {
        if (!request.has_param("account")) {
            response.set_content(failure("account is required"), "application/json");
            return;
        }
        const std::string account = request.get_param_value("account");
        std::optional<PlayerBans> fromSteam;
        if (steam) {
            if (!isSteamId64(account))
                return fail(response, 400, "account must be a SteamID64 (17 digits starting 7656119)");
            fromSteam = steam->lookup(account);
            if (!fromSteam)
                return fail(response, 502, "ban lookup unavailable");
        }
        std::optional<BanStore::Bans> listed = BanStore::Bans{};
        if (tableRequired) {
            std::lock_guard<std::mutex> lock(bansMutex);
            listed = bans.isOpen() ? bans.lookup(account) : std::nullopt;
        }
        if (!listed)
            return fail(response, 500, "bans table unavailable");

        std::string data = std::string("{\"vac\":") + jsonBool(listed->vac || (fromSteam && fromSteam->vac)) +
                           ",\"community\":" + jsonBool(listed->community || (fromSteam && fromSteam->community));
        if (fromSteam)
            data += ",\"vac_bans\":" + std::to_string(fromSteam->vacBans) +
                    ",\"game_bans\":" + std::to_string(fromSteam->gameBans) +
                    ",\"days_since_last_ban\":" + std::to_string(fromSteam->daysSinceLastBan) +
                    ",\"economy\":" + jsonString(fromSteam->economy);
        response.set_content("{\"ok\":true,\"data\":" + data + "}}", "application/json");
    });

    ReportStore reports(options.content + "/reports.sqlite");
    if (!reports.isOpen())
        std::cerr << "reports cannot be stored: " << reports.error() << "\n";
    RateLimit reportLimit(options.reportsPerMinute);
    server.set_payload_max_length(kMaxReportBytes);
    server.Post("/report", [&](const httplib::Request &request, httplib::Response &response) {
        if (!reportLimit.allow(request.remote_addr))
            return fail(response, 429, "too many reports a minute from this address");
        const nlohmann::json body = nlohmann::json::parse(request.body, nullptr, false);
        if (body.is_discarded() || !body.is_object() || !body.contains("format") ||
            body["format"] != "vigilor-report/1")
            return fail(response, 400, "not a report: format must be vigilor-report/1");
        ReportStore::Report summary = summarizeReport(body);
        summary.body = request.body;
        const std::optional<ReportStore::Report> stored = reports.isOpen() ? reports.add(summary) : std::nullopt;
        if (!stored) {
            std::cerr << "report not stored: " << reports.error() << std::endl;
            return fail(response, 500, "the report could not be stored");
        }
        response.set_content(
            json({{"ok", true},
                  {"data", {{"id", stored->id}, {"sha256", stored->sha256}, {"received", stored->received}}}}),
            "application/json");
    });

    if (!options.adminTokenFile.empty()) {
        const std::string token = readTrimmed(options.adminTokenFile);
        if (token.empty()) {
            std::cerr << "no admin token in " << options.adminTokenFile << "\n";
            return 1;
        }
        // Every admin page: credentials first, then no script, frame or outside resource whatever a
        // report holds.
        const auto admin = [token](const std::function<void(const httplib::Request &, httplib::Response &)> &page) {
            return [token, page](const httplib::Request &request, httplib::Response &response) {
                if (!adminCredentialsMatch(request.get_header_value("Authorization"), token)) {
                    response.status = 401;
                    response.set_header("WWW-Authenticate", "Basic realm=\"Vigilor reports\", charset=\"UTF-8\"");
                    response.set_content("authentication required", "text/plain");
                    return;
                }
                response.set_header("Content-Security-Policy",
                                    "default-src 'none'; style-src 'unsafe-inline'; frame-ancestors 'none'");
                response.set_header("X-Content-Type-Options", "nosniff");
                response.set_header("Cache-Control", "no-store");
                page(request, response);
            };
        };
        server.Get("/admin/reports", admin([&reports](const httplib::Request &, httplib::Response &response) {
                       response.set_content(reportListPage(reports.newest(kListedReports), kListedReports),
                                            "text/html; charset=utf-8");
                   }));
        server.Get(R"(/admin/reports/([0-9A-Z-]+)\.json)",
                   admin([&reports](const httplib::Request &request, httplib::Response &response) {
                       const std::optional<ReportStore::Report> report = reports.find(request.matches[1]);
                       if (!report)
                           return fail(response, 404, "no such report");
                       response.set_content(report->body, "application/json");
                   }));
        server.Get(R"(/admin/reports/([0-9A-Z-]+))",
                   admin([&reports](const httplib::Request &request, httplib::Response &response) {
                       const std::optional<ReportStore::Report> report = reports.find(request.matches[1]);
                       if (!report)
                           return fail(response, 404, "no such report");
                       response.set_content(reportPage(*report), "text/html; charset=utf-8");
                   }));
    }

    // Small answers on kept-alive connections would otherwise wait out the client's delayed ACK.
    server.set_tcp_nodelay(true);

    ConnectionGuard guard(server, options.connectionsPerAddress, std::chrono::seconds(options.requestHeadSeconds));
    const int delayMs = options.delayMs;
    server.set_pre_routing_handler([&guard, delayMs](const httplib::Request &request, httplib::Response &) {
        guard.headArrived(request.remote_addr, request.remote_port);
        if (delayMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        return httplib::Server::HandlerResponse::Unhandled;
    });

    std::mutex logMutex;
    server.set_logger([&guard, &logMutex](const httplib::Request &request, const httplib::Response &response) {
        guard.answered(request.remote_addr, request.remote_port);
        std::lock_guard<std::mutex> lock(logMutex);
        std::cout << request.remote_addr << " " << request.method << " " << request.target << " " << response.status
                  << " " << response.body.size() << std::endl;
    });

    if (!server.bind_to_port(options.bind.c_str(), options.port)) {
        std::cerr << "cannot listen on " << options.bind << ":" << options.port << "\n";
        return 1;
    }
    std::cout << "serving " << options.content << " on https://" << options.bind << ":" << options.port << "/"
              << std::endl;
    server.listen_after_bind();
    return 0;
}
