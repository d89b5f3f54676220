#include "Options.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <ostream>
#include <utility>
#include <variant>

void usage(std::ostream &out)
{
    out << "usage: vigilor-content-server --content DIR --cert PEM --key PEM [--port N] [--bind ADDRESS]\n"
           "                             [--delay-ms N] [--steam-api-key-file FILE] [--steam-api-url URL]\n"
           "                             [--steam-api-ca PEM] [--ban-cache-seconds N] [--steam-rest-seconds N]\n"
           "                             [--admin-token-file FILE]\n"
           "                             [--reports-per-minute N] [--connections-per-address N]\n"
           "                             [--request-head-seconds N] [--database postgresql://...]\n"
           "                             [--proxy-protocol-from ADDRESS[,ADDRESS...]]\n"
           "  DIR holds version.json, detection_data.json, motd.html, everything.json, unzip32.dll,\n"
           "  unzip.exe, pack.zip and bans.sqlite (table accounts(account, vac, community)).\n"
           "  --delay-ms holds every reply back, to watch the program on a slow network.\n"
           "  --steam-api-key-file turns on ban lookups through Steam's Web API (GetPlayerBans), at\n"
           "  --steam-api-url (default https://api.steampowered.com/), verified against --steam-api-ca\n"
           "  or the system's store; answers are cached in DIR/ban-cache.sqlite for\n"
           "  --ban-cache-seconds (default 3600). The table's bans are added to Steam's. For\n"
           "  --steam-rest-seconds after Steam failed or timed out (default 30), a lookup the cache\n"
           "  cannot answer fails at once rather than wait on Steam again.\n"
           "  Reports POSTed to /report are kept in DIR/reports.sqlite; --admin-token-file FILE opens\n"
           "  /admin/reports to user admin with the file's content as password. One address may send\n"
           "  --reports-per-minute reports a minute (default 30; more for examiners behind one NAT).\n"
           "  One address holds at most --connections-per-address connections at once (default 256); at\n"
           "  the cap its connection that has waited longest without a whole request gives way. A\n"
           "  connection has --request-head-seconds (default 10) for its handshake and first request\n"
           "  head, 30 s for each next head, and bodies and answers must move at 64 KiB/s after that\n"
           "  time; slower clients are cut off, so that none can keep the others waiting.\n"
           "  --database postgresql://... keeps the reports, the ban cache and the report limit in that\n"
           "  PostgreSQL database (a libpq connection URI; keep the password in ~/.pgpass or PGPASSFILE)\n"
           "  instead of SQLite files in DIR, so that several servers behind one address share them.\n"
           "  The schema is created when missing. While the database cannot be reached, reports are\n"
           "  refused with 503 and the server reconnects by itself.\n"
           "  --proxy-protocol-from names the TCP balancers in front of the server (nginx with\n"
           "  proxy_protocol on): a connection from one of them starts with the examiner's address in a\n"
           "  PROXY protocol line, and the limits above count that address, not the balancer's.\n"
           "usage: vigilor-content-server --verify-reports (--content DIR | --database postgresql://...)\n"
           "  checks the reports' hash chain: exit 0 when it holds, 1 at the first report where it breaks.\n"
           "usage: vigilor-content-server --content DIR --copy-reports-to postgresql://...\n"
           "  copies DIR/reports.sqlite into an empty PostgreSQL store with every chain value unchanged,\n"
           "  then checks the copy: exit 0 when its chain holds and ends where the original's does.\n"
           "usage: vigilor-content-server --help\n";
}

namespace {
// The addresses of a comma-separated list.
void addAddresses(const std::string &list, std::set<std::string> &addresses)
{
    for (std::size_t start = 0; start <= list.size();) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        if (comma > start)
            addresses.insert(list.substr(start, comma - start));
        start = comma + 1;
    }
}

// Where an option's value goes: text as it is, numbers as read by atoi/atoll, lists added to.
using Field =
    std::variant<std::string Options::*, int Options::*, long long Options::*, std::set<std::string> Options::*>;
using ValueOption = std::pair<const char *, Field>;

const ValueOption kValueOptions[] = {
    {"--content", &Options::content},
    {"--cert", &Options::cert},
    {"--key", &Options::key},
    {"--bind", &Options::bind},
    {"--port", &Options::port},
    {"--delay-ms", &Options::delayMs},
    {"--steam-api-key-file", &Options::steamKeyFile},
    {"--steam-api-url", &Options::steamUrl},
    {"--steam-api-ca", &Options::steamCa},
    {"--ban-cache-seconds", &Options::banCacheSeconds},
    {"--steam-rest-seconds", &Options::steamRestSeconds},
    {"--admin-token-file", &Options::adminTokenFile},
    {"--reports-per-minute", &Options::reportsPerMinute},
    {"--connections-per-address", &Options::connectionsPerAddress},
    {"--request-head-seconds", &Options::requestHeadSeconds},
    {"--proxy-protocol-from", &Options::proxyProtocolFrom},
    {"--database", &Options::database},
    {"--copy-reports-to", &Options::copyReportsTo},
};

struct Assign
{
    Options &options;
    const std::string &value;
    void operator()(std::string Options::*field) const { options.*field = value; }
    void operator()(int Options::*field) const { options.*field = std::atoi(value.c_str()); }
    void operator()(long long Options::*field) const { options.*field = std::atoll(value.c_str()); }
    void operator()(std::set<std::string> Options::*field) const { addAddresses(value, options.*field); }
};
} // namespace

bool parseOptions(int argc, char **argv, Options &options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        if (flag == "--verify-reports") {
            options.verifyReports = true;
            continue;
        }
        if (flag == "--help" || flag == "-h") {
            options.help = true;
            return true;
        }
        if (i + 1 >= argc)
            return false;
        const std::string value = argv[++i];
        const auto option = std::find_if(std::begin(kValueOptions), std::end(kValueOptions),
                                         [&flag](const ValueOption &known) { return flag == known.first; });
        if (option == std::end(kValueOptions))
            return false;
        std::visit(Assign{options, value}, option->second);
    }
    if (options.verifyReports)
        return !options.content.empty() || !options.database.empty();
    if (!options.copyReportsTo.empty())
        return !options.content.empty() && options.database.empty();
    return !options.content.empty() && !options.cert.empty() && !options.key.empty() && options.port > 0 &&
           options.port < 65536 && options.banCacheSeconds >= 0 && options.steamRestSeconds >= 0 &&
           options.reportsPerMinute > 0 && options.connectionsPerAddress > 0 && options.requestHeadSeconds > 0;
}
