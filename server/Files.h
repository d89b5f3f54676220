#pragma once

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
// has been still for two seconds and is read whole (the same size, time and inode before and after);
// until then the copy read before is. Thread-safe.
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
    std::tuple<long long, long long, long long, unsigned long long> readAs{}; // size, seconds, nanoseconds, inode
};
