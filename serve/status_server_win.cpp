// The status page served by the system's own HTTP server (http.sys, HTTP Server API 2.0): the
// system accepts the connections and parses the requests; a thread of ours takes each request
// from the queue and answers it from StatusPages.
#include <winsock2.h>
#include <ws2tcpip.h>
// winsock2.h before windows.h, which would otherwise bring in the old winsock.h.
#include <http.h>
#include <objbase.h>
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <thread>
#include <vector>

#include "common/wide_text_win32.h"
#include "serve/status_server.h"

namespace qv {

namespace {

constexpr HTTPAPI_VERSION kHttpApi2 = HTTPAPI_VERSION_2;
constexpr int kPortTries = 5;  // a free port found, then taken by another before it is registered
constexpr DWORD kServiceWait = 200;  // [ms] between tries to start the HTTP service
constexpr int kServiceWaits = 25;    // tries after the first
constexpr const char* kTextType = "text/plain; charset=utf-8";
constexpr DWORD kLargestRefused = 1 << 20;  // [bytes] a larger request is refused unread
constexpr DWORD kRetryWait = 100;           // [ms] after a receive that failed

// The system's text for a Win32 error code, on one line.
std::string SystemMessage(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = n > 0 ? Narrow(std::wstring(text, n)) : "";
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == '.' || message.back() == ' ')) {
        message.pop_back();
    }
    return message.empty() ? "error " + std::to_string(code) : message;
}

const char* Reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 431:
            return "Request Header Fields Too Large";
        default:
            return "Internal Server Error";
    }
}

// The socket address `host`:`port` (numeric IPv4, or IPv6 when `ipv6`); false when `host` is not
// a numeric address of that family.
bool SocketAddress(const std::string& host, bool ipv6, int port, sockaddr_storage& storage,
                   int& length) {
    storage = {};
    if (ipv6) {
        auto* a = reinterpret_cast<sockaddr_in6*>(&storage);
        a->sin6_family = AF_INET6;
        a->sin6_port = htons(static_cast<u_short>(port));
        length = sizeof *a;
        return inet_pton(AF_INET6, host.c_str(), &a->sin6_addr) == 1;
    }
    auto* a = reinterpret_cast<sockaddr_in*>(&storage);
    a->sin_family = AF_INET;
    a->sin_port = htons(static_cast<u_short>(port));
    length = sizeof *a;
    return inet_pton(AF_INET, host.c_str(), &a->sin_addr) == 1;
}

// Binds a socket of our own to `address` and closes it again: the port the system picked when
// `address` has port 0, or 0 with the Winsock error in `code`. The socket never listens, so
// the firewall asks nothing about it.
int ProbePort(const sockaddr_storage& address, int length, int& code) {
    const SOCKET s = socket(address.ss_family, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        code = WSAGetLastError();
        return 0;
    }
    int port = 0;
    sockaddr_storage bound{};
    int boundLength = sizeof bound;
    if (bind(s, reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&bound), &boundLength) != 0) {
        code = WSAGetLastError();
    } else {
        port = ntohs(bound.ss_family == AF_INET6
                         ? reinterpret_cast<const sockaddr_in6*>(&bound)->sin6_port
                         : reinterpret_cast<const sockaddr_in*>(&bound)->sin_port);
    }
    closesocket(s);
    return port;
}

class StatusServer final : public StatusService {
public:
    explicit StatusServer(StatusPages& pages) : pages_(pages) {}
    ~StatusServer() override;

    bool Start(const ServeAddress& address, std::string& error);
    int Port() const override { return port_; }

private:
    // The URL registered for `port`: the loopback as "localhost" (which http.sys lets any user
    // register; 127.0.0.1 would need an administrator's reservation), the wildcard as "+".
    std::wstring UrlFor(const ServeAddress& address, int port) const;
    // Registers the URL for `port`; the Win32 error code, NO_ERROR when it is registered.
    ULONG Register(const ServeAddress& address, int port);
    ULONG Receive(HTTP_REQUEST_ID id, HTTP_REQUEST* request, ULONG size, OVERLAPPED& overlapped,
                  DWORD& bytes);
    void Serve();
    void Answer(const HTTP_REQUEST& request);
    void Send(HTTP_REQUEST_ID id, const PageAnswer& answer, bool head, bool refused,
              ULONG flags = 0);

    StatusPages& pages_;
    int port_ = 0;
    bool winsock_ = false, initialized_ = false;
    HTTP_SERVER_SESSION_ID session_ = HTTP_NULL_ID;
    HTTP_URL_GROUP_ID group_ = HTTP_NULL_ID;
    HANDLE queue_ = nullptr;
    HANDLE stop_ = nullptr;  // set: the serving thread ends
    std::thread thread_;
};

StatusServer::~StatusServer() {
    if (thread_.joinable()) {
        SetEvent(stop_);
        thread_.join();
    }
    if (group_ != HTTP_NULL_ID) HttpCloseUrlGroup(group_);
    if (queue_ != nullptr) HttpCloseRequestQueue(queue_);
    if (session_ != HTTP_NULL_ID) HttpCloseServerSession(session_);
    if (initialized_) HttpTerminate(HTTP_INITIALIZE_SERVER, nullptr);
    if (stop_ != nullptr) CloseHandle(stop_);
    if (winsock_) WSACleanup();
}

std::wstring StatusServer::UrlFor(const ServeAddress& address, int port) const {
    if (address.Host == "0.0.0.0" || address.Host == "::") {
        return Wide("http://+:" + std::to_string(port) + "/");
    }
    return Wide(ServeUrl(address, port));
}

ULONG StatusServer::Register(const ServeAddress& address, int port) {
    return HttpAddUrlToUrlGroup(group_, UrlFor(address, port).c_str(), 0, 0);
}

bool StatusServer::Start(const ServeAddress& address, std::string& error) {
    const std::string where = "--serve " + ServeHostPort(address, address.Port);
    sockaddr_storage at{};
    int atLength = 0;
    if (!SocketAddress(address.Host, address.Ipv6, 0, at, atLength)) {
        error = where + ": " + address.Host + " is not a numeric address";
        return false;
    }
    WSADATA wsa;
    winsock_ = WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
    // http.sys takes any address in a URL; one this machine does not have is found here, by
    // binding a socket of our own to it.
    int code = 0;
    if (ProbePort(at, atLength, code) == 0) {
        error = where + ": cannot listen: " +
                (code == WSAEADDRNOTAVAIL ? address.Host + " is not an address of this machine"
                                          : SystemMessage(static_cast<DWORD>(code)));
        return false;
    }

    // HttpInitialize starts the HTTP service if need be; while the service manager is busy
    // starting another service it says its database is locked, for a moment.
    ULONG result = HttpInitialize(kHttpApi2, HTTP_INITIALIZE_SERVER, nullptr);
    for (int wait = 0; result == ERROR_SERVICE_DATABASE_LOCKED && wait < kServiceWaits; ++wait) {
        Sleep(kServiceWait);
        result = HttpInitialize(kHttpApi2, HTTP_INITIALIZE_SERVER, nullptr);
    }
    initialized_ = result == NO_ERROR;
    if (result == NO_ERROR) result = HttpCreateServerSession(kHttpApi2, &session_, 0);
    if (result == NO_ERROR) result = HttpCreateUrlGroup(session_, &group_, 0);
    if (result == NO_ERROR)
        result = HttpCreateRequestQueue(kHttpApi2, nullptr, nullptr, 0, &queue_);
    if (result == NO_ERROR) {
        HTTP_BINDING_INFO binding{};
        binding.Flags.Present = 1;
        binding.RequestQueueHandle = queue_;
        result =
            HttpSetUrlGroupProperty(group_, HttpServerBindingProperty, &binding, sizeof binding);
    }
    if (result != NO_ERROR) {
        error = where + ": cannot listen: the HTTP service: " + SystemMessage(result);
        return false;
    }
    // The limits, where the system takes them (not every version of http.sys does): a refusal
    // leaves its defaults.
    HTTP_CONNECTION_LIMIT_INFO connections{};
    connections.Flags.Present = 1;
    connections.MaxConnections = kServeConnectionLimit;
    HTTP_QOS_SETTING_INFO qos{};
    qos.QosType = HttpQosSettingTypeConnectionLimit;
    qos.QosSetting = &connections;
    HttpSetUrlGroupProperty(group_, HttpServerQosProperty, &qos, sizeof qos);
    HTTP_TIMEOUT_LIMIT_INFO timeouts{};
    timeouts.Flags.Present = 1;
    timeouts.IdleConnection = kServeConnectionTimeout;
    timeouts.HeaderWait = kServeConnectionTimeout;
    HttpSetUrlGroupProperty(group_, HttpServerTimeoutsProperty, &timeouts, sizeof timeouts);

    // Port 0: http.sys cannot pick one, so a free one is found first; another program may take
    // it before it is registered, hence a few tries.
    int port = address.Port;
    for (int attempt = 0; attempt < kPortTries; ++attempt) {
        if (address.Port == 0) {
            sockaddr_storage any{};
            int anyLength = 0;
            SocketAddress(address.Ipv6 ? "::" : "0.0.0.0", address.Ipv6, 0, any, anyLength);
            port = ProbePort(any, anyLength, code);
            if (port == 0) {
                error = where +
                        ": cannot listen: no free port: " + SystemMessage(static_cast<DWORD>(code));
                return false;
            }
        }
        result = Register(address, port);
        const bool taken = result == ERROR_ALREADY_EXISTS || result == ERROR_SHARING_VIOLATION;
        if (!taken || address.Port != 0) break;
    }
    if (result != NO_ERROR) {
        const std::string url = Narrow(UrlFor(address, port));
        if (result == ERROR_ACCESS_DENIED) {
            const std::string reserved = Narrow(UrlFor({"0.0.0.0", false, port}, port));
            error = where + ": cannot listen: " + url +
                    " needs a URL reservation: netsh http add urlacl url=" + reserved +
                    " user=EVERYONE (run as administrator)";
        } else if (result == ERROR_ALREADY_EXISTS || result == ERROR_SHARING_VIOLATION) {
            error = where + ": cannot listen: port " + std::to_string(port) + " is in use";
        } else {
            error = where + ": cannot listen: " + url + ": " + SystemMessage(result);
        }
        return false;
    }
    port_ = port;
    stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (stop_ == nullptr) {
        error = where + ": cannot listen: " + SystemMessage(GetLastError());
        return false;
    }
    thread_ = std::thread([this] { Serve(); });
    return true;
}

// Receives request `id` (HTTP_NULL_ID: the next one) into `request`, waiting beside the stop
// event. The Win32 result, ERROR_OPERATION_ABORTED when stopped; `bytes` what the system
// reported, for ERROR_MORE_DATA the size the request needs.
ULONG StatusServer::Receive(HTTP_REQUEST_ID id, HTTP_REQUEST* request, ULONG size,
                            OVERLAPPED& overlapped, DWORD& bytes) {
    bytes = 0;
    ResetEvent(overlapped.hEvent);
    ULONG result = HttpReceiveHttpRequest(queue_, id, 0, request, size, nullptr, &overlapped);
    if (result == ERROR_IO_PENDING) {
        const HANDLE events[] = {overlapped.hEvent, stop_};
        if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) {
            CancelIoEx(queue_, &overlapped);
            GetOverlappedResult(queue_, &overlapped, &bytes, TRUE);
            return ERROR_OPERATION_ABORTED;
        }
        result =
            GetOverlappedResult(queue_, &overlapped, &bytes, FALSE) ? NO_ERROR : GetLastError();
    } else if (result == ERROR_MORE_DATA) {
        GetOverlappedResult(queue_, &overlapped, &bytes, FALSE);  // the size it needs
    }
    return WaitForSingleObject(stop_, 0) == WAIT_OBJECT_0 ? ERROR_OPERATION_ABORTED : result;
}

// One request at a time, each received whole into a buffer of fixed size. A request that does
// not fit is answered 431; up to kLargestRefused it is first taken whole into a buffer of its
// own and dropped, so that the system holds none of it afterwards (Wine's http.sys would
// otherwise hand the same request out again after the answer, and a page that refused one
// large request stopped answering).
void StatusServer::Serve() {
    // COM for the thread's whole life: the pictures are encoded by the Windows Imaging
    // Component, which would otherwise start and end COM, and with it the process's
    // multithreaded apartment, for every picture.
    const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    std::vector<uint64_t> memory((sizeof(HTTP_REQUEST) + kServeConnectionMemory) / 8);
    auto* request = reinterpret_cast<HTTP_REQUEST*>(memory.data());
    const auto size = static_cast<ULONG>(memory.size() * sizeof memory[0]);
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (overlapped.hEvent == nullptr) {
        if (com) CoUninitialize();
        return;
    }
    for (;;) {
        DWORD bytes = 0;
        const ULONG result = Receive(HTTP_NULL_ID, request, size, overlapped, bytes);
        if (result == ERROR_OPERATION_ABORTED) break;
        if (result == NO_ERROR) {
            Answer(*request);
        } else if (result == ERROR_MORE_DATA) {
            const HTTP_REQUEST_ID id = request->RequestId;
            const DWORD whole = bytes > size ? bytes : kLargestRefused;  // where the system says
            if (whole <= kLargestRefused) {
                std::vector<uint64_t> rest((whole + 7) / 8);
                if (Receive(id, reinterpret_cast<HTTP_REQUEST*>(rest.data()),
                            static_cast<ULONG>(rest.size() * sizeof rest[0]), overlapped,
                            bytes) == ERROR_OPERATION_ABORTED) {
                    break;
                }
            }
            Send(id, {431, kTextType, "request too large\n", "", 0}, false, false,
                 HTTP_SEND_RESPONSE_FLAG_DISCONNECT);
        } else if (result == ERROR_INVALID_HANDLE) {
            break;  // the queue is gone: nothing more will arrive
        } else if (result != ERROR_CONNECTION_INVALID &&
                   WaitForSingleObject(stop_, kRetryWait) == WAIT_OBJECT_0) {
            break;  // any other failure is tried again after a pause, not the page's end
        }
    }
    CloseHandle(overlapped.hEvent);
    if (com) CoUninitialize();
}

void StatusServer::Answer(const HTTP_REQUEST& request) {
    const bool head = request.Verb == HttpVerbHEAD;
    if (request.Verb != HttpVerbGET && !head) {
        Send(request.RequestId, {405, kTextType, "only GET and HEAD\n", "", 0}, false, true);
        return;
    }
    // The path as the system decoded it, without the query.
    const std::wstring path(request.CookedUrl.pAbsPath,
                            request.CookedUrl.pAbsPath == nullptr
                                ? 0
                                : request.CookedUrl.AbsPathLength / sizeof(wchar_t));
    PageAnswer answer = pages_.Answer(Narrow(path));
    if (!answer.FilePath.empty()) {
        // Read whole: not every http.sys sends from a file handle.
        std::ifstream file(answer.FilePath, std::ios::binary);
        answer.Body.assign(static_cast<size_t>(answer.FileBytes), '\0');
        if (!file.read(answer.Body.data(), static_cast<std::streamsize>(answer.FileBytes))) {
            answer = {404, kTextType, "no such file yet\n", "", 0};
        }
    }
    Send(request.RequestId, answer, head, false);
}

void StatusServer::Send(HTTP_REQUEST_ID id, const PageAnswer& answer, bool head, bool refused,
                        ULONG flags) {
    HTTP_RESPONSE response{};
    const char* reason = Reason(answer.Status);
    response.StatusCode = static_cast<USHORT>(answer.Status);
    response.pReason = reason;
    response.ReasonLength = static_cast<USHORT>(std::strlen(reason));
    auto known = [&response](HTTP_HEADER_ID header, const std::string& value) {
        response.Headers.KnownHeaders[header].pRawValue = value.c_str();
        response.Headers.KnownHeaders[header].RawValueLength = static_cast<USHORT>(value.size());
    };
    const std::string noStore = "no-store", allow = "GET, HEAD";
    const std::string length = std::to_string(answer.Body.size());
    known(HttpHeaderContentType, answer.ContentType);
    known(HttpHeaderCacheControl, noStore);
    if (refused) known(HttpHeaderAllow, allow);
    // HEAD: the length of the body a GET would have, and no body.
    if (head) known(HttpHeaderContentLength, length);
    static const char kNoSniffName[] = "X-Content-Type-Options", kNoSniff[] = "nosniff";
    HTTP_UNKNOWN_HEADER noSniff{};
    noSniff.pName = kNoSniffName;
    noSniff.NameLength = sizeof kNoSniffName - 1;
    noSniff.pRawValue = kNoSniff;
    noSniff.RawValueLength = sizeof kNoSniff - 1;
    response.Headers.pUnknownHeaders = &noSniff;
    response.Headers.UnknownHeaderCount = 1;
    HTTP_DATA_CHUNK body{};
    body.DataChunkType = HttpDataChunkFromMemory;
    body.FromMemory.pBuffer = const_cast<char*>(answer.Body.data());
    body.FromMemory.BufferLength = static_cast<ULONG>(answer.Body.size());
    if (!head && !answer.Body.empty()) {
        response.pEntityChunks = &body;
        response.EntityChunkCount = 1;
    }
    // A client gone in the meantime is no matter: nothing is waiting on the answer.
    HttpSendHttpResponse(queue_, id, flags, &response, nullptr, nullptr, nullptr, 0, nullptr,
                         nullptr);
}

}  // namespace

std::unique_ptr<StatusService> StartStatusServer(const ServeAddress& address, StatusPages& pages,
                                                 std::string& error) {
    auto server = std::make_unique<StatusServer>(pages);
    if (!server->Start(address, error)) return nullptr;
    return server;
}

}  // namespace qv
