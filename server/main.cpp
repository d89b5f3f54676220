// vigilor-content-server: the reference content server. It serves the start-up documents and files of
// a content folder, answers ban lookups from Steam's Web API and the league's own SQLite table, and
// keeps the reports examiners send, over HTTPS, bound to loopback unless told otherwise. Reports, the
// ban cache and the report limit live in SQLite beside the content, or with --database in a
// PostgreSQL database that several servers share.

#include "BanStore.h"
#include "Files.h"
#include "HttpServer.h"
#include "Options.h"
#include "PostgresStores.h"
#include "Routes.h"
#include "SqliteStores.h"
#include "SteamBans.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include <malloc.h>
#include <sys/resource.h>

namespace {

// Connections each server keeps to a shared database: the workers take turns on them.
constexpr int kDatabaseConnections = 8;

// Checks the chain of `store`, saying how it stands; the exit status of --verify-reports.
int verifyReports(ReportStore &store, long long *count = nullptr, std::string *lastValue = nullptr)
{
    std::optional<std::pair<Report, std::string>> broken;
    long long checked = 0;
    std::string head;
    if (!store.firstBreak(broken, checked, head)) {
        std::cerr << "the reports cannot be read" << std::endl;
        return 2;
    }
    if (broken) {
        std::cout << "chain broken at report " << broken->first.id << " (number " << broken->first.seq << ", received "
                  << broken->first.received << "): " << broken->second << std::endl;
        return 1;
    }
    std::cout << "chain holds over " << checked << " reports; last chain value " << head << std::endl;
    if (count)
        *count = checked;
    if (lastValue)
        *lastValue = head;
    return 0;
}

// The SQLite store of `content`, which must be there already.
std::unique_ptr<SqliteReportStore> existingReports(const std::string &content)
{
    const std::string path = content + "/reports.sqlite";
    if (!std::filesystem::exists(path)) {
        std::cerr << "no reports at " << path << "\n";
        return nullptr;
    }
    auto store = std::make_unique<SqliteReportStore>(path);
    if (!store->isOpen()) {
        std::cerr << "cannot open " << path << ": " << store->error() << "\n";
        return nullptr;
    }
    return store;
}

// Copies the SQLite reports of `content` into the empty PostgreSQL store at `uri`, then checks that
// the copy's chain holds and ends where the original's does.
int copyReports(const std::string &content, const std::string &uri)
{
    const std::unique_ptr<SqliteReportStore> source = existingReports(content);
    if (!source)
        return 2;
    long long count = 0;
    std::string head;
    std::cout << "original: ";
    if (const int status = verifyReports(*source, &count, &head))
        return status;
    PostgresDatabase database(uri, 1);
    PostgresReportStore target(database);
    long long copied = 0;
    std::string error;
    if (!target.copyFrom(*source, copied, error)) {
        std::cerr << "reports not copied: " << error << std::endl;
        return 2;
    }
    std::cout << "copied " << copied << " reports\ncopy: ";
    long long copiedCount = 0;
    std::string copiedHead;
    if (const int status = verifyReports(target, &copiedCount, &copiedHead))
        return status;
    if (copiedCount != count || copiedHead != head) {
        std::cerr << "the copy ends elsewhere than the original" << std::endl;
        return 1;
    }
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
    // A peer that goes away mid-write (Steam's upstream cut at its deadline, through OpenSSL's socket
    // writes) must cost an error, not the process.
    signal(SIGPIPE, SIG_IGN);
    // Each client holds a socket, and hostile ones hold many: the soft limit of open files (often
    // 1,024) would refuse examiners long before the machine runs short.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    // Bodies of up to 16 MiB come and go by the hundred: each is mapped on its own and unmapped when
    // freed (a fixed threshold, not glibc's rising one), and the threads share a few arenas, so what a
    // burst took goes back to the system.
    mallopt(M_MMAP_THRESHOLD, 1024 * 1024);
    mallopt(M_ARENA_MAX, 4);
    if (!options.copyReportsTo.empty())
        return copyReports(options.content, options.copyReportsTo);

    // Every file an option names is there to be read, or the server does not start: a typo in
    // --steam-api-ca would otherwise surface as every lookup failing at the final.
    const std::pair<const char *, const std::string *> namedFiles[] = {{"--cert", &options.cert},
                                                                       {"--key", &options.key},
                                                                       {"--steam-api-key-file", &options.steamKeyFile},
                                                                       {"--steam-api-ca", &options.steamCa},
                                                                       {"--admin-token-file", &options.adminTokenFile}};
    for (const auto &[option, path] : namedFiles) {
        std::error_code error;
        if (!path->empty() && (!std::filesystem::is_regular_file(*path, error) || !std::ifstream(*path))) {
            std::cerr << "cannot read " << *path << " (" << option << ")\n";
            return 2;
        }
    }

    // The admins' password is checked before anything is opened or created.
    std::string adminToken;
    if (!options.adminTokenFile.empty() && !options.verifyReports) {
        adminToken = readTrimmed(options.adminTokenFile);
        if (adminToken.empty()) {
            std::cerr << "no admin token in " << options.adminTokenFile << "\n";
            return 1;
        }
        // A short password is guessed, throttle or not.
        if (adminToken.size() < 16) {
            std::cerr << "the admin token in " << options.adminTokenFile << " is shorter than 16 characters\n";
            return 2;
        }
    }

    // Where reports, Steam's answers and the report counts live.
    std::unique_ptr<PostgresDatabase> database;
    std::unique_ptr<ReportStore> reports;
    std::unique_ptr<BanCache> banCache;
    std::unique_ptr<RateLimit> reportLimit;
    if (!options.database.empty()) {
        database = std::make_unique<PostgresDatabase>(options.database, kDatabaseConnections);
        std::string error;
        if (!database->session(error)) {
            std::cerr << error << std::endl;
            if (options.verifyReports || database->schemaTooNew())
                return 2;
            std::cerr << "starting anyway: reports are refused until the database can be reached" << std::endl;
        }
        reports = std::make_unique<PostgresReportStore>(*database);
        banCache = std::make_unique<PostgresBanCache>(*database);
        reportLimit = std::make_unique<PostgresRateLimit>(*database, options.reportsPerMinute);
    } else if (options.verifyReports) {
        reports = existingReports(options.content);
        if (!reports)
            return 2;
    } else {
        auto sqliteReports = std::make_unique<SqliteReportStore>(options.content + "/reports.sqlite");
        if (!sqliteReports->isOpen())
            std::cerr << "reports cannot be stored: " << sqliteReports->error() << "\n";
        reports = std::move(sqliteReports);
        reportLimit = std::make_unique<MemoryRateLimit>(options.reportsPerMinute);
    }
    if (options.verifyReports)
        return verifyReports(*reports);

    HttpServer::Settings settings;
    settings.cert = options.cert;
    settings.key = options.key;
    settings.perAddress = options.connectionsPerAddress;
    settings.headTime = std::chrono::seconds(options.requestHeadSeconds);
    settings.balancers = options.proxyProtocolFrom;
    settings.delay = std::chrono::milliseconds(options.delayMs);
    HttpServer server(settings);
    if (!server.configurationError().empty()) {
        std::cerr << server.configurationError() << "\n";
        return 1;
    }

    Services services;
    services.content = options.content;
    services.reports = reports.get();
    services.reportLimit = reportLimit.get();

    BanStore bans(options.content + "/bans.sqlite");
    if (!bans.isOpen())
        std::cerr << "bans table unavailable: " << bans.error() << "\n";
    std::unique_ptr<SteamApi> steamApi;
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
        if (!banCache) {
            auto sqliteCache = std::make_unique<SqliteBanCache>(options.content + "/ban-cache.sqlite");
            if (!sqliteCache->isOpen()) {
                std::cerr << "ban cache unavailable: " << sqliteCache->error() << "\n";
                return 1;
            }
            banCache = std::move(sqliteCache);
        }
        steam = std::make_unique<SteamBans>(*steamApi, *banCache, options.banCacheSeconds,
                                            std::chrono::seconds(options.steamRestSeconds));
        std::cout << "Steam lookups on at " << options.steamUrl << ", answers cached for " << options.banCacheSeconds
                  << " s" << std::endl;
    }
    services.steam = steam.get();
    // With Steam on, a league without a table of its own has no extra bans; without it, the table is
    // all there is.
    if (!steam || std::filesystem::exists(options.content + "/bans.sqlite"))
        services.bans = &bans;

    services.adminToken = adminToken;
    addRoutes(server, services);

    std::string error;
    if (!server.listen(options.bind, options.port, error)) {
        std::cerr << error << "\n";
        return 1;
    }
    std::cout << "serving " << options.content << " on https://" << options.bind << ":" << options.port << "/"
              << (database ? " with reports in PostgreSQL" : "") << std::endl;
    server.run();
    return 0;
}
