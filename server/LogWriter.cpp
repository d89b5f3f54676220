#include "LogWriter.h"

LogWriter::LogWriter(std::ostream &out) : out(out), thread([this] { run(); }) {}

LogWriter::~LogWriter()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    wake.notify_one();
    thread.join();
}

void LogWriter::write(std::string line)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (lines.size() >= kLargestBacklog) {
            ++dropped;
            return;
        }
        lines.push_back(std::move(line));
    }
    wake.notify_one();
}

void LogWriter::run()
{
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        wake.wait(lock, [this] { return stopping || !lines.empty(); });
        if (lines.empty())
            return;
        std::deque<std::string> batch;
        batch.swap(lines);
        const std::size_t lost = dropped;
        dropped = 0;
        lock.unlock();
        if (lost > 0)
            out << "log: " << lost << " lines dropped while the output was slow\n";
        for (const std::string &line : batch)
            out << line << '\n';
        out.flush();
        lock.lock();
    }
}
