#pragma once

#include <nlohmann/json.hpp>

#include <string>

// A report's fields as the admin pages read them: any may be missing or of another type than the
// program writes, and reads then as empty, false or 0.

// A string as it is, null as "", anything else as its JSON text.
std::string textField(const nlohmann::json &object, const char *key);
bool flagField(const nlohmann::json &object, const char *key);
long long numberField(const nlohmann::json &object, const char *key);
// The array, or an empty one.
const nlohmann::json &arrayField(const nlohmann::json &object, const char *key);

// Captions of the names the program writes; "" for a name it does not write.
std::string traceStateCaption(const std::string &state);
std::string traceMediumCaption(const std::string &medium);
std::string driverStateCaption(const std::string &state);

// A trace row's digest: its SHA-256, or "SHA-1 …" where only Amcache's SHA-1 is known.
std::string traceDigest(const nlohmann::json &row);
// What a scan finding names: a signature's process memory as "процесс <image> (PID <n>)".
std::string scanTarget(const nlohmann::json &finding);
// An account's bans: "[VAC][COMMUNITY][GAME BANS: n]", "" when none.
std::string accountBans(const nlohmann::json &event);
