#include "ReportFields.h"

#include <initializer_list>
#include <utility>

namespace {
std::string captionOf(const std::string &name, std::initializer_list<std::pair<const char *, const char *>> captions)
{
    for (const auto &[known, shown] : captions) {
        if (name == known)
            return shown;
    }
    return std::string();
}
} // namespace

std::string textField(const nlohmann::json &object, const char *key)
{
    if (!object.is_object() || !object.contains(key) || object.at(key).is_null())
        return std::string();
    const nlohmann::json &value = object.at(key);
    return value.is_string() ? value.get<std::string>() : value.dump();
}

bool flagField(const nlohmann::json &object, const char *key)
{
    return object.is_object() && object.contains(key) && object.at(key).is_boolean() && object.at(key).get<bool>();
}

long long numberField(const nlohmann::json &object, const char *key)
{
    return object.is_object() && object.contains(key) && object.at(key).is_number_integer()
               ? object.at(key).get<long long>()
               : 0;
}

const nlohmann::json &arrayField(const nlohmann::json &object, const char *key)
{
    static const nlohmann::json empty = nlohmann::json::array();
    return object.is_object() && object.contains(key) && object.at(key).is_array() ? object.at(key) : empty;
}

std::string traceStateCaption(const std::string &state)
{
    return captionOf(state, {{"present", "есть"},
                             {"deleted", "удалён"},
                             {"recycled", "в корзине"},
                             {"created", "создан"},
                             {"renamed", "переименован"}});
}

std::string traceMediumCaption(const std::string &medium)
{
    return captionOf(medium, {{"removable", "съёмный"}, {"network", "сетевой"}, {"cd", "CD"}});
}

std::string driverStateCaption(const std::string &state)
{
    return captionOf(state, {{"loaded", "загружен"}, {"service", "служба"}, {"deleted", "удалён"}});
}

std::string traceDigest(const nlohmann::json &row)
{
    return !textField(row, "sha256").empty() || textField(row, "sha1").empty() ? textField(row, "sha256")
                                                                               : "SHA-1 " + textField(row, "sha1");
}

std::string scanTarget(const nlohmann::json &finding)
{
    const std::string target = textField(finding, "target");
    return textField(finding, "kind") == "signature" && finding.contains("pid")
               ? "процесс " + target + " (PID " + textField(finding, "pid") + ")"
               : target;
}

std::string accountBans(const nlohmann::json &event)
{
    std::string bans =
        std::string(flagField(event, "vac") ? "[VAC]" : "") + (flagField(event, "community") ? "[COMMUNITY]" : "");
    if (numberField(event, "game_bans") > 0)
        bans += "[GAME BANS: " + std::to_string(numberField(event, "game_bans")) + "]";
    return bans;
}
