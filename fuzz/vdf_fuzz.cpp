// libFuzzer target for the key-values reader: any bytes must either read or fail with
// std::runtime_error, never crash, leak, hang or run into undefined behaviour. The input is split at
// record-separator bytes (0x1e): the first part is the text read, the next three become the files
// "a.vdf", "b.vdf" and "c.vdf" of a private working folder, so includes, cycles and fan-outs get
// exercised too.

#include "accounts/vdf.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace {
char folder[] = "/tmp/vdf-fuzz-XXXXXX";

void removeFolder()
{
    for (const char *name : {"a.vdf", "b.vdf", "c.vdf"})
        std::remove(name);
    rmdir(folder);
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    if (mkdtemp(folder) == nullptr || chdir(folder) != 0)
        std::abort();
    std::atexit(removeFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char *>(data), size);
    std::size_t end = input.find('\x1e');
    const std::string text = input.substr(0, end);
    for (const char *name : {"a.vdf", "b.vdf", "c.vdf"}) {
        std::string part;
        if (end != std::string::npos) {
            const std::size_t begin = end + 1;
            end = input.find('\x1e', begin);
            part = input.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
        }
        std::ofstream(name, std::ios::binary | std::ios::trunc) << part;
    }

    for (const bool unescape : {false, true}) {
        vdf::read_options options;
        options.unescape = unescape;
        options.ignore_conditions = !unescape;
        try {
            const vdf::object root = vdf::parse(text.data(), text.data() + text.size(), options);
            (void)root;
        } catch (const std::runtime_error &) {
        }
    }
    return 0;
}
