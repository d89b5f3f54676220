#pragma once

#include <string>

// Reads the regular file at `path` whole; false when it cannot be read. A folder opens as a stream
// too, and would read as nothing.
bool readFile(const std::string &path, std::string &content);

// The file's content without surrounding white space; empty when it cannot be read.
std::string readTrimmed(const std::string &path);
