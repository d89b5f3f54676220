#include "WorkPool.h"

WorkPool::WorkPool(int threads, int queueLimit) : queueLimit(static_cast<std::size_t>(queueLimit))
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

bool WorkPool::submit(std::function<void()> job)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (queue.size() >= queueLimit)
            return false;
        queue.push_back(std::move(job));
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
            job = std::move(queue.front());
            queue.pop_front();
        }
        job();
    }
}
