#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>

// Guards the HTTPS server against clients that hold it without asking anything of it: a player at the
// next table who opens dozens of connections and trickles a byte a second into each would otherwise
// keep every worker thread, and every examiner, waiting.
// - One address holds at most `perAddress` connections at once; more are cut off at their handshake.
// - A connection has `headTime` for its TLS handshake and its first request head, and again after
//   every answer for the next head on a kept-alive connection; a client slower than that is cut off.
// - The workers are many more than one address may hold.
// The guard learns each connection's socket when its TLS handshake starts on a worker (OpenSSL's
// info callback), and that it ended when the worker is done with it.
class ConnectionGuard
{
public:
    ConnectionGuard(httplib::SSLServer &server, int perAddress, std::chrono::seconds headTime);
    ~ConnectionGuard();
    ConnectionGuard(const ConnectionGuard &) = delete;
    ConnectionGuard &operator=(const ConnectionGuard &) = delete;

    // From the routes: a request head of the connection `address`:`port` has arrived, and its answer
    // has been written.
    void headArrived(const std::string &address, int port);
    void answered(const std::string &address, int port);

private:
    class Workers;
    static void onHandshake(const SSL *ssl, int where, int value);
    void connectionStarted(int sock);
    void connectionEnded();
    void watch();

    struct Watched
    {
        int socket = -1; // a duplicate of the connection's socket, closed by us alone
        std::string address;
        std::chrono::steady_clock::time_point deadline;
        bool armed = true;
    };

    const int perAddress;
    const std::chrono::seconds headTime;
    std::mutex mutex;
    std::condition_variable wake;
    std::map<std::string, int> open;                // connections by address
    std::map<std::string, Watched> watched;         // by "address:port"
    std::map<std::thread::id, std::string> serving; // the connection each worker serves
    bool stopping = false;
    std::thread watchdog;
};
