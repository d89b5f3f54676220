#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// A bounded pool of threads for work that waits on something else.
class WorkPool
{
public:
    WorkPool(int threads, int queueLimit);
    ~WorkPool();
    WorkPool(const WorkPool &) = delete;
    WorkPool &operator=(const WorkPool &) = delete;

    // False when the queue is full: the caller answers at once rather than wait.
    bool submit(std::function<void()> job);

private:
    void work();

    const std::size_t queueLimit;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> queue;
    bool stopping = false;
    std::vector<std::thread> threads;
};
