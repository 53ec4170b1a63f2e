// The status page served by libmicrohttpd: its own thread polls the connections, parses the
// requests and calls StatusPages for the answers.
#include "serve/status_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace qv {

namespace {

class StatusServer final : public StatusService {
public:
    explicit StatusServer(StatusPages& pages) : pages_(pages) {}
    ~StatusServer() override {
        if (daemon_ != nullptr) MHD_stop_daemon(daemon_);
    }

    bool Start(const ServeAddress& address, std::string& error);
    int Port() const override { return port_; }

private:
    static MHD_Result Handle(void* self, MHD_Connection* connection, const char* url,
                             const char* method, const char* version, const char* upload,
                             size_t* uploadSize, void** connectionState);
    // libmicrohttpd's messages: kept while it starts (the reason it cannot listen), dropped
    // after, when they would only tell of clients' malformed requests.
    static void Log(void* self, const char* format, va_list args);

    MHD_Result Answer(MHD_Connection* connection, const char* url, const char* method);

    StatusPages& pages_;
    MHD_Daemon* daemon_ = nullptr;
    int port_ = 0;
    std::atomic<bool> starting_{true};
    std::string startMessage_;
};

void StatusServer::Log(void* self, const char* format, va_list args) {
    auto* server = static_cast<StatusServer*>(self);
    if (!server->starting_.load()) return;
    char line[512];
    std::vsnprintf(line, sizeof line, format, args);
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '.')) text.pop_back();
    if (server->startMessage_.empty()) server->startMessage_ = text;
}

MHD_Result StatusServer::Handle(void* self, MHD_Connection* connection, const char* url,
                                const char* method, const char*, const char*, size_t* uploadSize,
                                void**) {
    // A request that carries a body is answered at once; the body is not read.
    *uploadSize = 0;
    return static_cast<StatusServer*>(self)->Answer(connection, url, method);
}

MHD_Result StatusServer::Answer(MHD_Connection* connection, const char* url, const char* method) {
    MHD_Response* response = nullptr;
    unsigned status = MHD_HTTP_OK;
    const bool get = std::strcmp(method, MHD_HTTP_METHOD_GET) == 0 ||
                     std::strcmp(method, MHD_HTTP_METHOD_HEAD) == 0;
    PageAnswer answer;
    if (!get) {
        static const char kRefused[] = "only GET and HEAD\n";
        answer = {MHD_HTTP_METHOD_NOT_ALLOWED, "text/plain; charset=utf-8", kRefused, "", 0};
    } else {
        answer = pages_.Answer(url);
    }
    status = static_cast<unsigned>(answer.Status);
    if (!answer.FilePath.empty()) {
        const int fd = open(answer.FilePath.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            response = MHD_create_response_from_fd64(answer.FileBytes, fd);  // closes fd
            if (response == nullptr) close(fd);
        } else {
            answer = {MHD_HTTP_NOT_FOUND, "text/plain; charset=utf-8", "no such file yet\n", "", 0};
            status = MHD_HTTP_NOT_FOUND;
        }
    }
    if (response == nullptr) {
        response = MHD_create_response_from_buffer(answer.Body.size(), answer.Body.data(),
                                                   MHD_RESPMEM_MUST_COPY);
    }
    if (response == nullptr) return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, answer.ContentType.c_str());
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    if (!get) MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
    const MHD_Result queued = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return queued;
}

bool StatusServer::Start(const ServeAddress& address, std::string& error) {
    sockaddr_storage storage{};
    bool numeric = true;
    // poll() rather than epoll: with epoll this libmicrohttpd keeps a connection whose client
    // hung up in the middle of its request until the timeout, and a few such hold every place.
    unsigned flags = MHD_USE_POLL_INTERNAL_THREAD | MHD_USE_ERROR_LOG;
    if (address.Ipv6) {
        auto* a = reinterpret_cast<sockaddr_in6*>(&storage);
        a->sin6_family = AF_INET6;
        a->sin6_port = htons(static_cast<uint16_t>(address.Port));
        if (inet_pton(AF_INET6, address.Host.c_str(), &a->sin6_addr) != 1) numeric = false;
        flags |= MHD_USE_IPv6;
    } else {
        auto* a = reinterpret_cast<sockaddr_in*>(&storage);
        a->sin_family = AF_INET;
        a->sin_port = htons(static_cast<uint16_t>(address.Port));
        if (inet_pton(AF_INET, address.Host.c_str(), &a->sin_addr) != 1) numeric = false;
    }
    const std::string where = "--serve " + ServeHostPort(address, address.Port);
    if (!numeric) {
        error = where + ": " + address.Host + " is not a numeric address";
        return false;
    }
    // The logger first, so that it hears every message of the start.
    daemon_ = MHD_start_daemon(
        flags, static_cast<uint16_t>(address.Port), nullptr, nullptr, &StatusServer::Handle, this,
        MHD_OPTION_EXTERNAL_LOGGER, &StatusServer::Log, this, MHD_OPTION_SOCK_ADDR,
        reinterpret_cast<sockaddr*>(&storage), MHD_OPTION_CONNECTION_LIMIT, kServeConnectionLimit,
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, kServeConnectionMemory, MHD_OPTION_CONNECTION_TIMEOUT,
        kServeConnectionTimeout, MHD_OPTION_END);
    starting_ = false;
    if (daemon_ == nullptr) {
        error = where + ": cannot listen" +
                (startMessage_.empty() ? std::string() : ": " + startMessage_);
        return false;
    }
    const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
    port_ = info != nullptr ? info->port : address.Port;
    return true;
}

}  // namespace

std::unique_ptr<StatusService> StartStatusServer(const ServeAddress& address, StatusPages& pages,
                                                 std::string& error) {
    auto server = std::make_unique<StatusServer>(pages);
    if (!server->Start(address, error)) return nullptr;
    return server;
}

}  // namespace qv
