#pragma once

#include <httplib.h>

#include <functional>
#include <string>

class BanStore;
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
    // The examiner's address of a request, which a balancer may have sent.
    std::function<std::string(const httplib::Request &)> clientAddress;
};

// The start-up documents, ban lookups, reports and admin pages.
void addRoutes(httplib::SSLServer &server, const Services &services);
