// The read-only status page's routes and what each answers, apart from any HTTP library: the
// page, its numbers as JSON, the panels and the day's report as PNG, the run's CSV files. Fixed
// routes only: no part of a request names a file; the CSV routes stand for the run's own files.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "serve/status_snapshot.h"

namespace qv {

// Where --serve listens: [ADDR:]PORT.
struct ServeAddress {
    std::string Host = "127.0.0.1";  // a numeric IPv4 address, or IPv6 (without brackets)
    bool Ipv6 = false;
    int Port = 0;  // 0: a free port the system picks
};

// "8080", "0", "0.0.0.0:8080", "[::1]:8080"; false with one line in `error`.
bool ParseServeAddress(const std::string& text, ServeAddress& address, std::string& error);
// "http://127.0.0.1:8080/", the page's address on the port really bound (on Windows the
// loopback is "localhost", the name http.sys serves it under).
std::string ServeUrl(const ServeAddress& address, int port);
// "127.0.0.1:8080", "[::1]:8080": the address with `port` as --serve names it.
std::string ServeHostPort(const ServeAddress& address, int port);

// The answer to one request. A file's answer names the file and how many of its bytes to send
// (whole rows: up to its last line end when the answer was made); the body stays empty.
struct PageAnswer {
    int Status = 200;
    std::string ContentType;
    std::string Body;
    std::string FilePath;
    uint64_t FileBytes = 0;
};

// The day's report picture from the run's CSV files (seconds, periods: empty when there is
// none) as PNG bytes; false with one line in `error`. None: the page offers no report.
using ReportMaker = std::function<bool(const std::string& seconds, const std::string& periods,
                                       std::string& png, std::string& error)>;

constexpr std::chrono::seconds kReportCacheTime{
    60};  // a day's report is redrawn at most this often

// The routes over the latest snapshot. Each snapshot's panels are encoded once, at their first
// request; the report is made at most once a minute. Safe to call from several threads.
class StatusPages {
public:
    StatusPages(const StatusExchange& exchange, ReportMaker report,
                std::function<std::chrono::steady_clock::time_point()> clock =
                    std::chrono::steady_clock::now)
        : exchange_(exchange), report_(std::move(report)), clock_(std::move(clock)) {}

    // The answer for the request path `path` (without its query), by GET or HEAD.
    PageAnswer Answer(const std::string& path);

private:
    PageAnswer Panel(const std::shared_ptr<const StatusSnapshot>& s, int panel);
    PageAnswer Report(const std::shared_ptr<const StatusSnapshot>& s);

    const StatusExchange& exchange_;
    ReportMaker report_;
    std::function<std::chrono::steady_clock::time_point()> clock_;

    std::mutex mutex_;  // the caches below
    std::shared_ptr<const StatusSnapshot> encodedFor_;
    std::string png_[3];  // scope, I/Q panel, chart of encodedFor_; empty: not yet encoded
    std::string reportPng_, reportError_, reportFor_;
    std::chrono::steady_clock::time_point reportMade_;
    bool reportValid_ = false;
};

// A running server of the pages; it stops when destroyed.
class StatusService {
public:
    virtual ~StatusService() = default;
    virtual int Port() const = 0;  // the port bound: the one asked for, or the one picked
};

// Starts serving `pages` at `address`: nullptr with one line in `error` when it cannot listen.
using StartStatusService = std::function<std::unique_ptr<StatusService>(
    const ServeAddress& address, StatusPages& pages, std::string& error)>;

// The page's numbers as a JSON object: the snapshot's, or {"second": 0, ...} before the first.
std::string StatusJson(const StatusSnapshot* s);

}  // namespace qv
