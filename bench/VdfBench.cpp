// Throughput and peak memory of vdf::parse on a generated text of nested objects.
//   vdf-bench generate FILE [MB]   writes the text; prints the number of attributes in it
//   vdf-bench parse FILE           parses it (best of 3); prints MB/s, attributes read, peak memory

#include "accounts/vdf.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

namespace {
long peakRssKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

std::size_t countAttributes(const vdf::object &root)
{
    std::size_t count = 0;
    std::vector<const vdf::object *> pending{&root};
    while (!pending.empty()) {
        const vdf::object *node = pending.back();
        pending.pop_back();
        count += node->attributes.size();
        for (const auto &child : node->children)
            pending.push_back(child.second.get());
    }
    return count;
}

int generate(const char *path, std::size_t megabytes)
{
    std::ofstream out(path, std::ios::binary);
    const std::size_t target = megabytes * 1024 * 1024;
    std::size_t written = 0;
    std::size_t attributes = 0;
    std::string block;
    out << "\"root\"\n{\n";
    for (std::size_t i = 0; written < target; ++i) {
        block.clear();
        const std::string id = std::to_string(76561198000000000ULL + i);
        block += "\t\"" + id + "\"\n\t{\n";
        block += "\t\t\"AccountName\"\t\t\"account_" + std::to_string(i) + "\"\n";
        block += "\t\t\"PersonaName\"\t\t\"Player number " + std::to_string(i) + "\"\n";
        block += "\t\t\"Timestamp\"\t\t\"" + std::to_string(1700000000 + i) + "\"\n";
        block += "\t\t\"settings\"\n\t\t{\n\t\t\t\"video\"\n\t\t\t{\n";
        block += "\t\t\t\t\"width\"\t\t\"1920\"\n\t\t\t\t\"height\"\t\t\"1080\"\n";
        block += "\t\t\t}\n\t\t\t\"volume\"\t\t\"0.8\"\n\t\t}\n\t}\n";
        attributes += 6;
        out << block;
        written += block.size();
    }
    out << "}\n";
    std::cout << attributes << "\n";
    return out ? 0 : 1;
}

int parse(const char *path)
{
    std::ifstream in(path, std::ios::binary);
    const std::string text = vdf::read_all(in);
    const long baseline = peakRssKb();
    double best = 1e30;
    std::size_t attributes = 0;
    for (int run = 0; run < 3; ++run) {
        const auto start = std::chrono::steady_clock::now();
        const vdf::object root =
            vdf::parse(text.data(), text.data() + text.size(), vdf::read_options{true, false, true});
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        best = std::min(best, seconds);
        attributes = countAttributes(root);
    }
    const double megabytes = text.size() / (1024.0 * 1024.0);
    std::printf("vdf::parse: %.1f MB in %.3f s = %.1f MB/s, %zu attributes, peak memory %.1f MB (text %.1f MB, "
                "parse adds %.1f MB)\n",
                megabytes, best, megabytes / best, attributes, peakRssKb() / 1024.0, megabytes,
                (peakRssKb() - baseline) / 1024.0);
    return 0;
}
} // namespace

int main(int argc, char **argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "generate") == 0)
        return generate(argv[2], argc > 3 ? std::stoul(argv[3]) : 50);
    if (argc == 3 && std::strcmp(argv[1], "parse") == 0)
        return parse(argv[2]);
    std::cerr << "usage: vdf-bench generate FILE [MB] | vdf-bench parse FILE\n";
    return 2;
}
