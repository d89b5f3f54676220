#include "Routes.h"

#include "BanStore.h"
#include "Files.h"
#include "Intake.h"
#include "ReportPages.h"
#include "SteamBans.h"
#include "Stores.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <functional>
#include <iostream>
#include <memory>
#include <mutex>

namespace {

// A report carries every execution trace of the machine, which can run to a few MiB.
constexpr std::size_t kMaxReportBytes = 16 * 1024 * 1024;
constexpr int kListedReports = 500;
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

void fail(httplib::Response &response, int status, const std::string &message)
{
    response.status = status;
    response.set_content(failure(message), "application/json");
}

const char *jsonBool(bool value)
{
    return value ? "true" : "false";
}

std::string json(const nlohmann::json &value)
{
    return value.dump();
}

} // namespace

void addRoutes(httplib::SSLServer &server, const Services &services)
{
    for (const Document &document : kDocuments) {
        const std::string file = services.content + "/" + document.file;
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

    // The league's table is one SQLite connection, read by one worker at a time.
    auto bansMutex = std::make_shared<std::mutex>();
    server.Get("/bans", [services, bansMutex](const httplib::Request &request, httplib::Response &response) {
        if (!request.has_param("account")) {
            response.set_content(failure("account is required"), "application/json");
            return;
        }
        const std::string account = request.get_param_value("account");
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

        std::string data = std::string("{\"vac\":") + jsonBool(listed->vac || (fromSteam && fromSteam->vac)) +
                           ",\"community\":" + jsonBool(listed->community || (fromSteam && fromSteam->community));
        if (fromSteam)
            data += ",\"vac_bans\":" + std::to_string(fromSteam->vacBans) +
                    ",\"game_bans\":" + std::to_string(fromSteam->gameBans) +
                    ",\"days_since_last_ban\":" + std::to_string(fromSteam->daysSinceLastBan) +
                    ",\"economy\":" + jsonString(fromSteam->economy);
        response.set_content("{\"ok\":true,\"data\":" + data + "}}", "application/json");
    });

    server.set_payload_max_length(kMaxReportBytes);
    server.Post("/report", [services](const httplib::Request &request, httplib::Response &response) {
        // What is refused costs the sender nothing of the limit, which counts reports that may be stored.
        const std::string fault = reportTextFault(request.body);
        if (!fault.empty())
            return fail(response, 400, "not a report: " + fault);
        const nlohmann::json body = nlohmann::json::parse(request.body, nullptr, false);
        if (body.is_discarded() || !body.is_object() || !body.contains("format") ||
            body["format"] != "vigilor-report/1")
            return fail(response, 400, "not a report: format must be vigilor-report/1");
        const RateLimit::Verdict verdict = services.reportLimit->allow(services.clientAddress(request));
        if (verdict == RateLimit::Verdict::Unavailable)
            return fail(response, 503, kStoreUnavailable);
        if (verdict == RateLimit::Verdict::Refused)
            return fail(response, 429, "too many reports a minute from this address");
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
        response.set_content(
            json({{"ok", true},
                  {"data", {{"id", stored.id}, {"sha256", stored.sha256}, {"received", stored.received}}}}),
            "application/json");
    });

    if (services.adminToken.empty())
        return;
    // Every admin page: credentials first, then no script, frame or outside resource whatever a
    // report holds.
    // Guessing is slowed per address: ten failures in a minute and the address waits a minute.
    auto throttle = std::make_shared<LoginThrottle>();
    const auto admin = [token = services.adminToken, throttle, address = services.clientAddress](
                           const std::function<void(const httplib::Request &, httplib::Response &)> &page) {
        return [token, throttle, address, page](const httplib::Request &request, httplib::Response &response) {
            const std::string client = address(request);
            if (throttle->refused(client))
                return fail(response, 429, "too many failed logins from this address; wait a minute");
            if (!adminCredentialsMatch(request.get_header_value("Authorization"), token)) {
                throttle->failed(client);
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
    server.Get("/admin/reports",
               admin([reports = services.reports](const httplib::Request &, httplib::Response &response) {
                   const std::optional<std::vector<Report>> newest = reports->newest(kListedReports);
                   if (!newest)
                       return fail(response, 503, kStoreUnreadable);
                   response.set_content(reportListPage(*newest, kListedReports), "text/html; charset=utf-8");
               }));
    // One report, as received or rendered.
    const auto reportRoute = [&admin, reports = services.reports](std::string (*render)(const Report &),
                                                                  const char *type) {
        return admin([reports, render, type](const httplib::Request &request, httplib::Response &response) {
            std::optional<Report> report;
            if (!reports->find(request.matches[1], report))
                return fail(response, 503, kStoreUnreadable);
            if (!report)
                return fail(response, 404, "no such report");
            response.set_content(render(*report), type);
        });
    };
    server.Get(R"(/admin/reports/([0-9A-Z-]+)\.json)",
               reportRoute([](const Report &report) { return report.body; }, "application/json"));
    server.Get(R"(/admin/reports/([0-9A-Z-]+))", reportRoute(reportPage, "text/html; charset=utf-8"));
}
