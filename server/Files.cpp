#include "Files.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool readFile(const std::string &path, std::string &content)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return false;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad())
        return false;
    content = buffer.str();
    return true;
}

std::string readTrimmed(const std::string &path)
{
    std::string text;
    if (!readFile(path, text))
        return std::string();
    const auto first = text.find_first_not_of(" \t\r\n");
    const auto last = text.find_last_not_of(" \t\r\n");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

SharedFile::SharedFile(std::string path) : path(std::move(path)) {}

namespace {
constexpr auto kSettleTime = std::chrono::seconds(2);

// Size, modification time (seconds, nanoseconds) and inode, as SharedFile keeps them.
using Identity = std::tuple<long long, long long, long long, unsigned long long>;

Identity identityOf(const struct stat &status)
{
    return std::make_tuple(static_cast<long long>(status.st_size), static_cast<long long>(status.st_mtim.tv_sec),
                           static_cast<long long>(status.st_mtim.tv_nsec),
                           static_cast<unsigned long long>(status.st_ino));
}

// The whole regular file at `path` as one version: the same size, time and inode before and after
// the read, and exactly its size read. False when it changed meanwhile or cannot be read.
bool readOneVersion(const std::string &path, std::string &content, Identity &identity)
{
    const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return false;
    struct stat before
    {
    };
    struct stat after
    {
    };
    bool whole = fstat(descriptor, &before) == 0 && S_ISREG(before.st_mode);
    if (whole) {
        content.assign(static_cast<std::size_t>(before.st_size), '\0');
        std::size_t done = 0;
        while (done < content.size()) {
            const ssize_t got = read(descriptor, &content[done], content.size() - done);
            if (got <= 0)
                break;
            done += static_cast<std::size_t>(got);
        }
        char extra = 0;
        whole = done == content.size() && read(descriptor, &extra, 1) == 0 && fstat(descriptor, &after) == 0 &&
                identityOf(before) == identityOf(after);
    }
    close(descriptor);
    identity = identityOf(before);
    return whole;
}
} // namespace

std::shared_ptr<const std::string> SharedFile::content()
{
    struct stat status
    {
    };
    if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return nullptr;
    std::lock_guard<std::mutex> lock(mutex);
    const Identity identity = identityOf(status);
    if (cached && identity == readAs)
        return cached;
    // A file that changed may still be being written in place, and a truncation need not move its
    // time: the copy read before is served until the file has looked the same for two seconds by our
    // own clock.
    const auto now = std::chrono::steady_clock::now();
    if (identity != changedTo) {
        changedTo = identity;
        changedAt = now;
    }
    if (cached && now - changedAt < kSettleTime)
        return cached;
    // A file rewritten in place while it is read is never served half old, half new: the copy read
    // before keeps being served until one whole version is read.
    for (int attempt = 0; attempt < 3; ++attempt) {
        auto text = std::make_shared<std::string>();
        Identity read;
        if (readOneVersion(path, *text, read)) {
            cached = std::move(text);
            readAs = read;
            return cached;
        }
    }
    return cached;
}
