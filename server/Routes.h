#pragma once

#include <string>

class BanStore;
class HttpServer;
class RateLimit;
class ReportStore;
class SteamBans;

// What the routes answer from. The stores outlive the server.
struct Services
{
    std::string content;        // the folder of the start-up documents
    BanStore *bans = nullptr;   // the league's own table, when there is one to read
    SteamBans *steam = nullptr; // Steam's Web API, when lookups are on
    ReportStore *reports = nullptr;
    RateLimit *reportLimit = nullptr;
    std::string adminToken; // empty: no admin pages
};

// The start-up documents, ban lookups, reports and admin pages.
void addRoutes(HttpServer &server, const Services &services);
