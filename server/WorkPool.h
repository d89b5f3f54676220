#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A bounded pool of threads for work that waits on something else.
class WorkPool
{
public:
    // `queueLimit` jobs wait at most, `perAddress` of them from one address.
    WorkPool(int threads, int queueLimit, int perAddress);
    ~WorkPool();
    WorkPool(const WorkPool &) = delete;
    WorkPool &operator=(const WorkPool &) = delete;

    // False when the queue is full, or holds the address's share: the caller answers at once rather
    // than wait.
    bool submit(const std::string &address, std::function<void()> job);

private:
    void work();

    const std::size_t queueLimit;
    const int perAddress;
    std::map<std::string, int> queuedBy; // the jobs of each address waiting
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::pair<std::string, std::function<void()>>> queue;
    bool stopping = false;
    std::vector<std::thread> threads;
};
