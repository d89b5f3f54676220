#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
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
// Behind a TCP balancer every connection comes from the balancer's address. A balancer named in
// `balancers` first sends the examiner's own address in a PROXY protocol (version 1) line, and that
// address is the one limited, logged and counted.
class ConnectionGuard
{
public:
    ConnectionGuard(httplib::SSLServer &server, int perAddress, std::chrono::seconds headTime,
                    const std::set<std::string> &balancers);
    ~ConnectionGuard();
    ConnectionGuard(const ConnectionGuard &) = delete;
    ConnectionGuard &operator=(const ConnectionGuard &) = delete;

    // From the routes: a request head of the connection `address`:`port` has arrived, and its answer
    // has been written.
    void headArrived(const std::string &address, int port);
    void answered(const std::string &address, int port);
    // The examiner's address of the connection `address`:`port`: the one a balancer sent, or the peer's.
    std::string clientAddress(const std::string &address, int port);

private:
    class Workers;
    static void onHandshake(const SSL *ssl, int where, int value);
    void connectionStarted(int sock);
    void connectionEnded();
    void watch();

    struct Watched
    {
        int socket = -1;     // a duplicate of the connection's socket, closed by us alone
        std::string address; // the examiner's
        std::chrono::steady_clock::time_point deadline;
        bool armed = true;
    };

    const int perAddress;
    const std::chrono::seconds headTime;
    std::set<std::string> balancers; // as normalAddress gives them
    std::mutex mutex;
    std::condition_variable wake;
    std::map<std::string, int> open;                // connections by address
    std::map<std::string, Watched> watched;         // by "address:port"
    std::map<std::thread::id, std::string> serving; // the connection each worker serves
    bool stopping = false;
    std::thread watchdog;
};
