#pragma once

#include <functional>

// Runs task(i) for every i from 0 to count - 1, spread over as many threads as the machine has cores
// (this thread among them), and returns when all have run. Each i is taken by exactly one thread.
void runOnAllCores(int count, const std::function<void(int)> &task);
