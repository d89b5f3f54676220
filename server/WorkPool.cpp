#include "WorkPool.h"

WorkPool::WorkPool(int threads, int queueLimit, int perAddress)
    : queueLimit(static_cast<std::size_t>(queueLimit)), perAddress(perAddress)
{
    for (int i = 0; i < threads; ++i)
        this->threads.emplace_back([this] { work(); });
}

WorkPool::~WorkPool()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    for (std::thread &thread : threads)
        thread.join();
}

bool WorkPool::submit(const std::string &address, std::function<void()> job)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        int &queued = queuedBy[address];
        if (queue.size() >= queueLimit || queued >= perAddress) {
            if (queued == 0)
                queuedBy.erase(address);
            return false;
        }
        ++queued;
        queue.emplace_back(address, std::move(job));
    }
    wake.notify_one();
    return true;
}

void WorkPool::work()
{
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> lock(mutex);
            wake.wait(lock, [this] { return stopping || !queue.empty(); });
            if (queue.empty())
                return;
            job = std::move(queue.front().second);
            const auto queued = queuedBy.find(queue.front().first);
            if (queued != queuedBy.end() && --queued->second == 0)
                queuedBy.erase(queued);
            queue.pop_front();
        }
        job();
    }
}
