#pragma once

#include <string>

struct sqlite3;

// Opens (creating it when missing) the SQLite file at `path` for writing from several threads and runs
// `setup` on it; nullptr with the reason in `error` when either fails.
sqlite3 *openWritable(const std::string &path, const char *setup, std::string &error);
