// libFuzzer target for the key-values reader: any bytes must either read or fail with
// std::runtime_error, never crash, leak or run into undefined behaviour. Includes are skipped so the
// fuzzer never opens files.

#include "accounts/vdf.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const char *first = reinterpret_cast<const char *>(data);
    for (const bool unescape : {false, true}) {
        vdf::read_options options;
        options.unescape = unescape;
        options.ignore_conditions = !unescape;
        options.skip_includes = true;
        try {
            const vdf::object root = vdf::parse(first, first + size, options);
            (void)root;
        } catch (const std::runtime_error &) {
        }
    }
    return 0;
}
