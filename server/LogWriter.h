#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>

// The server's log, written by a thread of its own: an I/O thread hands a line over and goes on,
// whatever the output (a pipe nobody reads, a slow terminal) does. When the output falls behind by
// kLargestBacklog lines, further lines are dropped and counted, and the count is written once it
// catches up.
class LogWriter
{
public:
    static constexpr std::size_t kLargestBacklog = 10000;

    explicit LogWriter(std::ostream &out);
    ~LogWriter();
    LogWriter(const LogWriter &) = delete;
    LogWriter &operator=(const LogWriter &) = delete;

    void write(std::string line);

private:
    void run();

    std::ostream &out;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::string> lines;
    std::size_t dropped = 0;
    bool stopping = false;
    std::thread thread; // last: it starts once the rest is there
};
