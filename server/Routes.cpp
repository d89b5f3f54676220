#include "Routes.h"

#include "BanStore.h"
#include "Files.h"
#include "HttpServer.h"
#include "Intake.h"
#include "ReportPages.h"
#include "SteamBans.h"
#include "Stores.h"

#include <nlohmann/json.hpp>

#include <malloc.h>

#include <cstdio>
#include <functional>
#include <iostream>
#include <memory>
#include <mutex>

namespace {

constexpr int kListedReports = 500;

// Gives what a large report's tree took back to the system once it is freed: the allocator would
// otherwise keep it for the process, and a burst of large reports would stay as resident memory.
class TrimAfterLargeBody
{
public:
    explicit TrimAfterLargeBody(std::size_t size) : large(size > 4 * 1024 * 1024) {}
    ~TrimAfterLargeBody()
    {
        if (large)
            malloc_trim(0);
    }
    TrimAfterLargeBody(const TrimAfterLargeBody &) = delete;
    TrimAfterLargeBody &operator=(const TrimAfterLargeBody &) = delete;

private:
    const bool large;
};
const char *const kStoreUnavailable = "the reports cannot be stored now; try again shortly";
const char *const kStoreUnreadable = "the reports cannot be read now; try again shortly";

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
    {"/drivers", "drivers.json", "application/json"},
    {"/unzip/dll", "unzip32.dll", "application/octet-stream"},
    {"/unzip/exe", "unzip.exe", "application/octet-stream"},
    {"/pack", "pack.zip", "application/zip"},
};

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

TimelineFilter filterOf(const HttpRequest &request)
{
    return TimelineFilter{request.param("source"), request.param("colour")};
}

void fail(HttpResponse &response, int status, const std::string &message)
{
    response.status = status;
    response.setContent(failure(message), "application/json");
}

const char *jsonBool(bool value)
{
    return value ? "true" : "false";
}

std::string jsonText(const nlohmann::json &value)
{
    return value.dump();
}

} // namespace

void addRoutes(HttpServer &server, const Services &services)
{
    // Documents come from memory, one copy for every client, and never wait on anything else.
    for (const Document &document : kDocuments) {
        auto file = std::make_shared<SharedFile>(services.content + "/" + document.file);
        const std::string type = document.type;
        server.route("GET", document.path, HttpServer::Runs::OnIoThread,
                     [file, type](const HttpRequest &, HttpResponse &response) {
                         std::shared_ptr<const std::string> body = file->content();
                         if (!body) {
                             response.status = 404;
                             response.setContent("not found", "text/plain");
                             return;
                         }
                         response.body = std::move(body);
                         response.type = type;
                     });
    }

    // The league's table is one SQLite connection, read by one worker at a time.
    auto bansMutex = std::make_shared<std::mutex>();
    server.route("GET", "/bans", HttpServer::Runs::OnUpstreamWorkers,
                 [services, bansMutex](const HttpRequest &request, HttpResponse &response) {
                     if (!request.hasParam("account")) {
                         response.setContent(failure("account is required"), "application/json");
                         return;
                     }
                     const std::string account = request.param("account");
                     std::optional<PlayerBans> fromSteam;
                     if (services.steam) {
                         if (!isSteamId64(account))
                             return fail(response, 400, "account must be a SteamID64 (17 digits starting 7656119)");
                         fromSteam = services.steam->lookup(account);
                         if (!fromSteam)
                             return fail(response, 502, "ban lookup unavailable");
                     }
                     std::optional<BanStore::Bans> listed = BanStore::Bans{};
                     if (services.bans) {
                         std::lock_guard<std::mutex> lock(*bansMutex);
                         listed = services.bans->isOpen() ? services.bans->lookup(account) : std::nullopt;
                     }
                     if (!listed)
                         return fail(response, 500, "bans table unavailable");

                     std::string data =
                         std::string("{\"vac\":") + jsonBool(listed->vac || (fromSteam && fromSteam->vac)) +
                         ",\"community\":" + jsonBool(listed->community || (fromSteam && fromSteam->community));
                     if (fromSteam)
                         data += ",\"vac_bans\":" + std::to_string(fromSteam->vacBans) +
                                 ",\"game_bans\":" + std::to_string(fromSteam->gameBans) +
                                 ",\"days_since_last_ban\":" + std::to_string(fromSteam->daysSinceLastBan) +
                                 ",\"economy\":" + jsonString(fromSteam->economy);
                     response.setContent("{\"ok\":true,\"data\":" + data + "}}", "application/json");
                 });

    server.route(
        "POST", "/report", HttpServer::Runs::OnWorkers, [services](const HttpRequest &request, HttpResponse &response) {
            // What is refused costs the sender nothing of the limit, which counts reports that may be stored.
            const std::string fault = reportTextFault(request.body);
            if (!fault.empty())
                return fail(response, 400, "not a report: " + fault);
            // The limit is counted before the tree is built, so that a refused report never costs one.
            const RateLimit::Verdict verdict = services.reportLimit->allow(request.client);
            if (verdict == RateLimit::Verdict::Unavailable)
                return fail(response, 503, kStoreUnavailable);
            if (verdict == RateLimit::Verdict::Refused)
                return fail(response, 429, "too many reports a minute from this address");
            const TrimAfterLargeBody trim(request.body.size());
            const nlohmann::json body = nlohmann::json::parse(request.body, nullptr, false);
            if (body.is_discarded() || !body.is_object())
                return fail(response, 400, "not a report: format must be vigilor-report/1");
            Report stored = summarizeReport(body);
            stored.body = request.body;
            std::string error;
            const ReportStore::Outcome outcome = services.reports->add(stored, error);
            if (outcome != ReportStore::Outcome::Stored) {
                std::cerr << "report not stored: " << error << std::endl;
                if (outcome == ReportStore::Outcome::Unavailable)
                    return fail(response, 503, kStoreUnavailable);
                return fail(response, 500, "the report could not be stored");
            }
            response.setContent(
                jsonText({{"ok", true},
                          {"data", {{"id", stored.id}, {"sha256", stored.sha256}, {"received", stored.received}}}}),
                "application/json");
        });

    if (services.adminToken.empty())
        return;
    // Every admin page: credentials first, then no script, frame or outside resource whatever a
    // report holds.
    // Guessing is slowed per address: ten failures in a minute and the address waits a minute.
    auto throttle = std::make_shared<LoginThrottle>();
    const auto admin = [token = services.adminToken, throttle](const HttpHandler &page) {
        return [token, throttle, page](const HttpRequest &request, HttpResponse &response) {
            const std::string &client = request.client;
            if (throttle->refused(client))
                return fail(response, 429, "too many failed logins from this address; wait a minute");
            if (!adminCredentialsMatch(request.header("Authorization"), token)) {
                throttle->failed(client);
                response.status = 401;
                response.headers.emplace_back("WWW-Authenticate", "Basic realm=\"Vigilor reports\", charset=\"UTF-8\"");
                response.setContent("authentication required", "text/plain");
                return;
            }
            response.headers.emplace_back("Content-Security-Policy",
                                          "default-src 'none'; style-src 'unsafe-inline'; frame-ancestors 'none'");
            response.headers.emplace_back("X-Content-Type-Options", "nosniff");
            response.headers.emplace_back("Cache-Control", "no-store");
            page(request, response);
        };
    };
    server.route("GET", "/admin/reports", HttpServer::Runs::OnWorkers,
                 admin([reports = services.reports](const HttpRequest &, HttpResponse &response) {
                     const std::optional<std::vector<Report>> newest = reports->newest(kListedReports);
                     if (!newest)
                         return fail(response, 503, kStoreUnreadable);
                     response.setContent(reportListPage(*newest, kListedReports), "text/html; charset=utf-8");
                 }));
    // One report, as received or rendered.
    using ReportAnswer = void (*)(const Report &, const HttpRequest &, HttpResponse &);
    const auto reportRoute = [&admin, reports = services.reports](ReportAnswer answer) {
        return admin([reports, answer](const HttpRequest &request, HttpResponse &response) {
            std::optional<Report> report;
            if (!reports->find(request.matches[1], report))
                return fail(response, 503, kStoreUnreadable);
            if (!report)
                return fail(response, 404, "no such report");
            answer(*report, request, response);
        });
    };
    server.routePattern("GET", R"(/admin/reports/([0-9A-Z-]+)\.json)", HttpServer::Runs::OnWorkers,
                        reportRoute([](const Report &report, const HttpRequest &, HttpResponse &response) {
                            response.setContent(report.body, "application/json");
                        }));
    // The timeline for a timeline viewer, filtered as the page was.
    server.routePattern(
        "GET", R"(/admin/reports/([0-9A-Z-]+)\.csv)", HttpServer::Runs::OnWorkers,
        reportRoute([](const Report &report, const HttpRequest &request, HttpResponse &response) {
            const std::string fault = reportTextFault(report.body);
            if (!fault.empty())
                return fail(response, 422, "the report is not shown: " + fault);
            const ReportResult result = readReportResult(nlohmann::json::parse(report.body, nullptr, false));
            response.setContent(timelineCsv(timelineOf(result, filterOf(request))), "text/csv; charset=utf-8");
            response.headers.emplace_back("Content-Disposition",
                                          "attachment; filename=\"vigilor-" + report.id + ".csv\"");
        }));
    server.routePattern("GET", R"(/admin/reports/([0-9A-Z-]+))", HttpServer::Runs::OnWorkers,
                        reportRoute([](const Report &report, const HttpRequest &request, HttpResponse &response) {
                            response.setContent(reportPage(report, filterOf(request)), "text/html; charset=utf-8");
                        }));
}
