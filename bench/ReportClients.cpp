#include "ReportClients.h"

#include <httplib.h>

#include <QElapsedTimer>

#include <algorithm>
#include <chrono>
#include <thread>

std::string report(int number)
{
    std::string findings;
    for (int i = 0; i < 400; ++i)
        findings += std::string(i ? "," : "") + R"({"kind":"rule","level":1,"description":"Чит-лоадер )" +
                    std::to_string(i) + R"(","target":"C:/Users/player/AppData/Roaming/Tools/loader_)" +
                    std::to_string(number) + "_" + std::to_string(i) + R"(.exe"})";
    return R"({"format":"vigilor-report/1","machine":"PC-)" + std::to_string(number) +
           R"(","user":"player","events":[{"type":"scan","time":"2026-12-07T10:00:00Z","findings":[)" + findings +
           "]}]}";
}

Run runClients(int port, const std::string &caPath, bool post)
{
    Run run;
    std::vector<std::vector<double>> latencies(kClients);
    std::vector<int> failures(kClients, 0);
    QElapsedTimer clock;
    clock.start();
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            httplib::SSLClient client("127.0.0.1", port);
            client.set_ca_cert_path(caPath.c_str());
            client.enable_server_certificate_verification(true);
            client.set_keep_alive(true);
            // As the program's network stack does: a body written after its head is not held back.
            client.set_tcp_nodelay(true);
            for (int i = c; i < kRequests; i += kClients) {
                const auto start = std::chrono::steady_clock::now();
                const auto result =
                    post ? client.Post("/report", report(i), "application/json") : client.Get("/version");
                latencies[c].push_back(
                    std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
                if (!result || result->status != 200)
                    ++failures[c];
            }
        });
    }
    for (std::thread &client : clients)
        client.join();
    run.seconds = clock.nsecsElapsed() / 1e9;
    for (int c = 0; c < kClients; ++c) {
        run.latenciesMs.insert(run.latenciesMs.end(), latencies[c].begin(), latencies[c].end());
        run.failed += failures[c];
    }
    std::sort(run.latenciesMs.begin(), run.latenciesMs.end());
    return run;
}

double p99(const Run &run)
{
    return run.latenciesMs.at(static_cast<std::size_t>(run.latenciesMs.size() * 0.99));
}
