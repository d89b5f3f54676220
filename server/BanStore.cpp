#include "BanStore.h"

#include <sqlite3.h>

BanStore::BanStore(const std::string &path)
{
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        lastError = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close(db);
        db = nullptr;
    }
}

BanStore::~BanStore()
{
    sqlite3_close(db);
}

std::optional<BanStore::Bans> BanStore::lookup(const std::string &account)
{
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT vac, community FROM accounts WHERE account = ?1", -1, &statement, nullptr) !=
        SQLITE_OK) {
        lastError = sqlite3_errmsg(db);
        return std::nullopt;
    }
    sqlite3_bind_text(statement, 1, account.data(), static_cast<int>(account.size()), SQLITE_TRANSIENT);
    Bans bans;
    const int step = sqlite3_step(statement);
    if (step == SQLITE_ROW) {
        bans.vac = sqlite3_column_int(statement, 0) != 0;
        bans.community = sqlite3_column_int(statement, 1) != 0;
    }
    sqlite3_finalize(statement);
    if (step != SQLITE_ROW && step != SQLITE_DONE) {
        lastError = sqlite3_errmsg(db);
        return std::nullopt;
    }
    return bans;
}
