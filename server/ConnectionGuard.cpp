#include "ConnectionGuard.h"

#include "ProxyProtocol.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/ssl.h>

#include <cstdio>
#include <optional>

namespace {
constexpr std::size_t kWorkers = 64;

int guardIndex()
{
    static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

// The peer's address and port; empty when the socket has none.
std::pair<std::string, int> peerOf(int sock)
{
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (getpeername(sock, reinterpret_cast<sockaddr *>(&peer), &length) != 0)
        return {};
    char text[INET6_ADDRSTRLEN] = {};
    if (peer.ss_family == AF_INET) {
        const auto *v4 = reinterpret_cast<const sockaddr_in *>(&peer);
        inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
        return {text, ntohs(v4->sin_port)};
    }
    if (peer.ss_family == AF_INET6) {
        const auto *v6 = reinterpret_cast<const sockaddr_in6 *>(&peer);
        inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
        return {normalAddress(text), ntohs(v6->sin6_port)};
    }
    return {};
}

// Reads the PROXY line a balancer sends before anything else, a byte at a time so that nothing of the
// TLS handshake behind it is taken; empty when none whole arrives by `deadline`.
std::optional<std::string> readProxyLine(int sock, std::chrono::steady_clock::time_point deadline)
{
    constexpr std::size_t kLongest = 107; // the protocol's own limit, "\r\n" included
    std::string line;
    while (line.size() < kLongest) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd ready{sock, POLLIN, 0};
        if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) != 1)
            return std::nullopt;
        char byte;
        if (recv(sock, &byte, 1, 0) != 1)
            return std::nullopt;
        line += byte;
        if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0)
            return line.substr(0, line.size() - 2);
    }
    return std::nullopt;
}

// One key whichever form of an address the caller has.
std::string keyOf(const std::string &address, int port)
{
    return normalAddress(address) + ":" + std::to_string(port);
}
} // namespace

// httplib's pool of workers, telling the guard when a worker is done with a connection.
class ConnectionGuard::Workers : public httplib::TaskQueue
{
public:
    explicit Workers(ConnectionGuard &guard) : guard(guard), pool(kWorkers) {}
    void enqueue(std::function<void()> fn) override
    {
        pool.enqueue([this, fn = std::move(fn)] {
            fn();
            guard.connectionEnded();
        });
    }
    void shutdown() override { pool.shutdown(); }

private:
    ConnectionGuard &guard;
    httplib::ThreadPool pool;
};

ConnectionGuard::ConnectionGuard(httplib::SSLServer &server, int perAddress, std::chrono::seconds headTime,
                                 const std::set<std::string> &balancers)
    : perAddress(perAddress), headTime(headTime)
{
    for (const std::string &balancer : balancers)
        this->balancers.insert(normalAddress(balancer));
    server.new_task_queue = [this] { return new Workers(*this); };
    SSL_CTX_set_ex_data(server.ssl_context(), guardIndex(), this);
    SSL_CTX_set_info_callback(server.ssl_context(), onHandshake);
    watchdog = std::thread([this] { watch(); });
}

ConnectionGuard::~ConnectionGuard()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    watchdog.join();
}

void ConnectionGuard::onHandshake(const SSL *ssl, int where, int)
{
    if (!(where & SSL_CB_HANDSHAKE_START) || SSL_is_init_finished(ssl))
        return; // renegotiations are not new connections
    auto *guard = static_cast<ConnectionGuard *>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), guardIndex()));
    if (guard)
        guard->connectionStarted(SSL_get_fd(ssl));
}

void ConnectionGuard::connectionStarted(int sock)
{
    auto [address, port] = peerOf(sock);
    const std::string key = keyOf(address, port);
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (serving.count(std::this_thread::get_id()))
            return; // already counted
    }
    if (balancers.count(address)) {
        const std::optional<std::string> line = readProxyLine(sock, std::chrono::steady_clock::now() + headTime);
        const std::optional<std::string> source = line ? proxySource(*line) : std::nullopt;
        if (!source) {
            shutdown(sock, SHUT_RDWR); // not the balancer speaking, or too slow: the handshake fails
            return;
        }
        address = *source;
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        serving[std::this_thread::get_id()] = key;
        // The duplicate keeps this very socket: were the original closed and its number given to a
        // new connection, a late shutdown would otherwise cut the wrong one.
        Watched connection{dup(sock), address, std::chrono::steady_clock::now() + headTime, true};
        if (++open[address] > perAddress) {
            // An address at its cap gives up the connection that has waited longest without a whole
            // request, so that an examiner behind the same NAT as a player holding slow connections
            // still gets in; only when all of them are at work is the new one refused.
            Watched *oldest = nullptr;
            for (auto &entry : watched) {
                Watched &other = entry.second;
                if (other.address == address && other.armed && (!oldest || other.deadline < oldest->deadline))
                    oldest = &other;
            }
            Watched &dropped = oldest ? *oldest : connection;
            shutdown(dropped.socket, SHUT_RDWR); // its handshake or read fails, and its worker is free
            dropped.armed = false;
        }
        watched[key] = connection;
    }
    wake.notify_all();
}

void ConnectionGuard::connectionEnded()
{
    std::lock_guard<std::mutex> lock(mutex);
    const auto worker = serving.find(std::this_thread::get_id());
    if (worker == serving.end())
        return; // closed before its handshake began
    const auto found = watched.find(worker->second);
    if (found != watched.end()) {
        if (found->second.socket >= 0)
            close(found->second.socket);
        if (--open[found->second.address] <= 0)
            open.erase(found->second.address);
        watched.erase(found);
    }
    serving.erase(worker);
}

void ConnectionGuard::headArrived(const std::string &address, int port)
{
    std::lock_guard<std::mutex> lock(mutex);
    const auto found = watched.find(keyOf(address, port));
    if (found != watched.end())
        found->second.armed = false;
}

std::string ConnectionGuard::clientAddress(const std::string &givenAddress, int port)
{
    const std::string address = normalAddress(givenAddress);
    std::lock_guard<std::mutex> lock(mutex);
    const auto found = watched.find(keyOf(address, port));
    return found == watched.end() ? address : found->second.address;
}

void ConnectionGuard::answered(const std::string &address, int port)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        const auto found = watched.find(keyOf(address, port));
        if (found == watched.end())
            return;
        found->second.armed = true;
        found->second.deadline = std::chrono::steady_clock::now() + headTime;
    }
    wake.notify_all();
}

void ConnectionGuard::watch()
{
    std::unique_lock<std::mutex> lock(mutex);
    while (!stopping) {
        const auto now = std::chrono::steady_clock::now();
        auto next = now + std::chrono::hours(1);
        for (auto &entry : watched) {
            Watched &connection = entry.second;
            if (!connection.armed)
                continue;
            if (connection.deadline <= now) {
                // The worker reading it sees the stream end and lets the connection go.
                shutdown(connection.socket, SHUT_RDWR);
                connection.armed = false;
            } else if (connection.deadline < next) {
                next = connection.deadline;
            }
        }
        wake.wait_until(lock, next);
    }
}
