#pragma once

#include <string>
#include <vector>

// The examiners of the server benchmarks: kClients threads, each with a kept-alive connection of
// its own, sending kRequests requests between them.
constexpr int kClients = 8;
constexpr int kRequests = 1000;

// A report of about 50 KB: a scan with 400 findings.
std::string report(int number);

struct Run
{
    double seconds = 0;
    std::vector<double> latenciesMs; // sorted
    int failed = 0;
};

// kRequests reports posted (`post`) or `GET version` requests to the server at loopback `port`,
// verified against the CA at `caPath`.
Run runClients(int port, const std::string &caPath, bool post);

// The 99th-percentile latency of `run`, in milliseconds.
double p99(const Run &run);
