#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>

// Reads the regular file at `path` whole; false when it cannot be read. A folder opens as a stream
// too, and would read as nothing.
bool readFile(const std::string &path, std::string &content);

// The file's content without surrounding white space; empty when it cannot be read.
std::string readTrimmed(const std::string &path);

// A file read once and shared by every answer; read again when it changes on disk (by its size,
// modification time or inode), so a content update needs no restart. A new version is served once it
// has looked the same for two seconds and is read whole (the same size, time and inode before and
// after); until then the copy read before is. Thread-safe.
class SharedFile
{
public:
    explicit SharedFile(std::string path);

    // The content; null when the path is not a regular file that can be read.
    std::shared_ptr<const std::string> content();

private:
    const std::string path;
    std::mutex mutex;
    std::shared_ptr<const std::string> cached;
    using Identity = std::tuple<long long, long long, long long, unsigned long long>; // size, mtime s, ns, inode
    Identity readAs{};
    Identity changedTo{}; // what the file looked like when last seen changed, and when that was
    std::chrono::steady_clock::time_point changedAt{};
};
