#include "Files.h"

#include <filesystem>
#include <fstream>
#include <sstream>

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
