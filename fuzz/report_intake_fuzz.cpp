// libFuzzer target for the server's one pass over a report's text before anything is built from it:
// a text it lets through must parse, within the depth and the count of values it promises.

#include "Intake.h"

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    if (reportTextFault(text).empty() && nlohmann::json::parse(text, nullptr, false).is_discarded())
        std::abort();
    return 0;
}
