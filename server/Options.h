#pragma once

#include <iosfwd>
#include <set>
#include <string>

// The reference server's command line.
struct Options
{
    std::string content;
    std::string cert;
    std::string key;
    std::string bind = "127.0.0.1";
    int port = 8443;
    int delayMs = 0;
    std::string steamKeyFile;
    std::string steamUrl = "https://api.steampowered.com/";
    std::string steamCa;
    long long banCacheSeconds = 3600;
    long long steamRestSeconds = 30; // after a failure, cache misses fail at once this long
    std::string adminTokenFile;
    int reportsPerMinute = 30;
    int connectionsPerAddress = 256;
    int requestHeadSeconds = 10;
    std::set<std::string> proxyProtocolFrom; // balancers that send each examiner's address first
    std::string database;                    // a libpq connection URI: reports, ban cache and limits in PostgreSQL
    std::string copyReportsTo;               // a libpq connection URI to copy the SQLite reports into
    bool verifyReports = false;
    bool help = false;
};

// Reads the command line into `options`; false when it is not one the server takes.
bool parseOptions(int argc, char **argv, Options &options);

// Every option, with what it does.
void usage(std::ostream &out);
