#include "platform/Parallel.h"

#include <QThread>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

void runOnAllCores(int count, const std::function<void(int)> &task)
{
    std::atomic<int> next{0};
    const auto work = [&] {
        for (int i = next++; i < count; i = next++)
            task(i);
    };
    const int threads = std::max(1, std::min(QThread::idealThreadCount(), count));
    std::vector<std::thread> helpers;
    for (int i = 1; i < threads; ++i)
        helpers.emplace_back(work);
    work();
    for (std::thread &helper : helpers)
        helper.join();
}
