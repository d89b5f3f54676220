#pragma once

#include <optional>
#include <string>

struct sqlite3;

// The server's record of banned accounts: an SQLite table accounts(account TEXT PRIMARY KEY,
// vac INTEGER, community INTEGER). Opened read-only; an account not in the table has no bans.
class BanStore
{
public:
    struct Bans
    {
        bool vac = false;
        bool community = false;
    };

    explicit BanStore(const std::string &path);
    ~BanStore();
    BanStore(const BanStore &) = delete;
    BanStore &operator=(const BanStore &) = delete;

    bool isOpen() const { return db != nullptr; }
    const std::string &error() const { return lastError; }

    // Empty when the table cannot be read.
    std::optional<Bans> lookup(const std::string &account);

private:
    sqlite3 *db = nullptr;
    std::string lastError;
};
