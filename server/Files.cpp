#include "Files.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/stat.h>

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

std::shared_ptr<const std::string> SharedFile::content()
{
    struct stat status
    {
    };
    if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return nullptr;
    const auto identity =
        std::make_tuple(static_cast<long long>(status.st_size), static_cast<long long>(status.st_mtim.tv_sec),
                        static_cast<long long>(status.st_mtim.tv_nsec), static_cast<unsigned long long>(status.st_ino));
    std::lock_guard<std::mutex> lock(mutex);
    if (!cached || identity != readAs) {
        auto text = std::make_shared<std::string>();
        if (!readFile(path, *text))
            return nullptr;
        cached = std::move(text);
        readAs = identity;
    }
    return cached;
}
