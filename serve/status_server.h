// The status page's HTTP server (libmicrohttpd): GET and HEAD on the fixed routes of
// StatusPages, on a thread of its own, a few clients at a time.
#pragma once

#include <memory>
#include <string>

#include "serve/status_pages.h"

namespace qv {

constexpr unsigned kServeConnectionLimit = 8;     // clients served at once
constexpr size_t kServeConnectionMemory = 8192;   // [bytes] a request larger is refused
constexpr unsigned kServeConnectionTimeout = 10;  // [s] an idle connection is closed

// Listens on `address` (the loopback unless another address is given) and answers from
// `pages`, which must outlive the server; nullptr with one line in `error` when it cannot
// listen there.
std::unique_ptr<StatusService> StartStatusServer(const ServeAddress& address, StatusPages& pages,
                                                 std::string& error);

}  // namespace qv
