// quorvelle-batch.exe --capture --serve under Wine: the status page served by the system's
// http.sys while the run measures the simulator, fetched from Linux: every kind of route with
// its type and headers, the requests it refuses, an address or port it cannot have, and the
// run ending as usual.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "tests/e2e/http_client.h"
#include "tests/png_pixels.h"
#include "tests/test_files.h"
#include "tests/tool_runner.h"
#include "tests/wine/wine_program.h"

namespace qv {

namespace {

using namespace std::chrono_literals;

struct Reply {
    int Status = 0;
    std::string Head;  // the status line and headers, each line ending in CR LF
    std::string Body;
};

// Sends `request` on a connection of its own and reads one answer: its head, and as many bytes
// of body as its Content-Length says (none for HEAD). http.sys keeps the connection open after
// the answer, so the answer's end is not the connection's.
Reply AskOnce(int port, const std::string& request, bool head) {
    Reply reply;
    const int fd = Connect(port);
    if (fd < 0) return reply;
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string bytes;
    size_t headEnd = std::string::npos, length = 0;
    char chunk[65536];
    for (ssize_t n; (n = recv(fd, chunk, sizeof chunk, 0)) > 0;) {
        bytes.append(chunk, static_cast<size_t>(n));
        if (headEnd == std::string::npos &&
            (headEnd = bytes.find("\r\n\r\n")) != std::string::npos) {
            std::string lower = bytes.substr(0, headEnd + 2);
            std::transform(lower.begin(), lower.end(), lower.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            const size_t field = lower.find("\r\ncontent-length:");
            length = head || field == std::string::npos
                         ? 0
                         : std::strtoul(lower.c_str() + field + 17, nullptr, 10);
        }
        if (headEnd != std::string::npos && bytes.size() >= headEnd + 4 + length) break;
    }
    close(fd);
    if (headEnd == std::string::npos) return reply;
    reply.Status = StatusOf(bytes);
    reply.Head = bytes.substr(0, headEnd + 2);
    reply.Body = bytes.substr(headEnd + 4);
    return reply;
}

// As AskOnce, asked a second time on a new connection when nothing answered: Wine's http.sys
// now and then drops a request it has accepted, which the page never sees. A page that has
// stopped answering leaves both unanswered.
Reply Ask(int port, const std::string& request, bool head = false) {
    const Reply reply = AskOnce(port, request, head);
    return reply.Status != 0 ? reply : AskOnce(port, request, head);
}

// The request line `line` with the Host the page is registered under, and `more` headers.
std::string Request(int port, const std::string& line, const std::string& more = "") {
    return line + " HTTP/1.1\r\nHost: localhost:" + std::to_string(port) + "\r\n" + more + "\r\n";
}

}  // namespace

TEST(WineStatusPage, LiveRunServedThroughHttpSys) {
    const std::string why = WineUnavailable(kBatchExe);
    if (!why.empty()) GTEST_SKIP() << why;
    TestFolder folder;
    const std::string seconds = folder.Path("seconds.csv");
    ChildProcess batch;
    std::string error;
    ASSERT_TRUE(
        batch.Start(WineArgv(kBatchExe, {"--capture", "--quiet", "--simulate", "20", "--serve", "0",
                                         "--csv", seconds, "--iq-csv", folder.Path("periods.csv")}),
                    kWineEnvironment, folder.Path("out"), folder.Path("err"), error))
        << error;
    std::smatch found;
    const std::regex url("quorvelle-batch: status page: http://localhost:([0-9]+)/\n");
    std::string err;
    ASSERT_TRUE(WaitWhileRunning(
        batch,
        [&] { return std::regex_search(err = Lf(FileText(folder.Path("err"))), found, url); }, 60s))
        << err;
    const int port = std::stoi(found[1]);

    // An address this machine does not have: one line, status 1, before anything is written.
    const ToolRun elsewhere =
        RunWindowsProgram(folder, kBatchExe,
                          {"--capture", "--simulate", "5", "--serve", "192.0.2.1:8080", "--csv",
                           folder.Path("never.csv")});
    EXPECT_EQ(elsewhere.Status, 1);
    EXPECT_EQ(Lf(elsewhere.Err),
              "quorvelle-batch: --serve 192.0.2.1:8080: cannot listen: "
              "192.0.2.1 is not an address of this machine\n");
    EXPECT_FALSE(std::filesystem::exists(folder.Path("never.csv")));

    // Once the chain has measured a few seconds.
    ASSERT_TRUE(WaitWhileRunning(
        batch,
        [&] {
            return std::regex_search(Ask(port, Request(port, "GET /status.json")).Body,
                                     std::regex("\"second\": ([4-9]|[1-9][0-9])"));
        },
        30s))
        << Lf(FileText(folder.Path("err")));
    // Every request first, the checks after: now and then Wine 8's http.sys loses every
    // registration in the middle of a run (its driver starts afresh), so that nothing answers
    // and the port is free again. That is Wine's, and skips the test; the page's own faults
    // leave the port taken.
    const std::vector<std::pair<std::string, std::string>> routes = {
        {"/", "text/html; charset=utf-8"},
        {"/status.json", "application/json"},
        {"/chart.png?second=3", "image/png"},
        {"/seconds.csv", "text/csv; charset=utf-8"}};
    std::vector<Reply> replies;
    for (const auto& route : routes)
        replies.push_back(Ask(port, Request(port, "GET " + route.first)));
    const Reply json = Ask(port, Request(port, "GET /status.json"));
    const Reply chart = Ask(port, Request(port, "GET /chart.png"));
    const Reply csv = Ask(port, Request(port, "GET /seconds.csv"));
    const Reply head = Ask(port, Request(port, "HEAD /status.json"), true);
    const Reply post =
        Ask(port, Request(port, "POST /status.json", "Content-Length: 5\r\n") + "hello");
    const Reply big =
        Ask(port, Request(port, "GET /", "X-Big: " + std::string(9000, 'a') + "\r\n"));
    const std::vector<std::string> outside = {"/../../etc/passwd", "/%2e%2e/%2e%2e/etc/passwd",
                                              "/index.html"};
    std::vector<Reply> refused;
    for (const std::string& path : outside)
        refused.push_back(Ask(port, Request(port, "GET " + path)));
    const Reply last = Ask(port, Request(port, "GET /status.json"));
    // The port taken: one line, status 1. Last, since Wine's http.sys stops listening on every
    // port when the refused program closes its request queue.
    const ToolRun taken = RunWindowsProgram(
        folder, kBatchExe, {"--capture", "--simulate", "1", "--serve", std::to_string(port)});
    replies.insert(replies.end(), {json, chart, csv, head, post, big, last});
    replies.insert(replies.end(), refused.begin(), refused.end());
    if (std::any_of(replies.begin(), replies.end(), [](const Reply& r) { return r.Status == 0; }) &&
        Lf(taken.Err).find("status page: ") != std::string::npos) {
        GTEST_SKIP() << "Wine's http.sys lost the page's registration during the run: requests "
                        "went unanswered and another program could register its port";
    }

    // Each kind of route, with its type and the headers every answer carries.
    for (size_t i = 0; i < routes.size(); ++i) {
        const auto& [path, type] = routes[i];
        const Reply& r = replies[i];
        EXPECT_EQ(r.Status, 200) << path << ": " << r.Head << r.Body;
        for (const std::string& field :
             {"Content-Type: " + type, std::string("Cache-Control: no-store"),
              std::string("X-Content-Type-Options: nosniff")}) {
            EXPECT_NE(r.Head.find("\r\n" + field + "\r\n"), std::string::npos) << path << r.Head;
        }
    }
    EXPECT_NE(json.Body.find("\"IDFREQERROR\": \"Freq error = "), std::string::npos) << json.Body;
    WriteText(folder.Path("chart.png"), chart.Body);
    PngPixels pixels;
    ASSERT_TRUE(ReadPngPixels(folder.Path("chart.png"), pixels))
        << chart.Head << chart.Body.size() << " bytes: " << chart.Body.substr(0, 100);
    EXPECT_EQ(std::make_pair(pixels.Width, pixels.Height), std::make_pair(766, 338));
    // The CSV download: whole rows, as the file held them.
    EXPECT_TRUE(csv.Body.starts_with("time,t_s,") && csv.Body.ends_with("\n")) << csv.Body;
    EXPECT_TRUE(FileText(seconds).starts_with(csv.Body));
    EXPECT_EQ(head.Status, 200);
    EXPECT_NE(head.Head.find("Content-Type: application/json"), std::string::npos) << head.Head;

    // Refused: other methods (405, saying which it takes), a request larger than the server
    // takes in (431), and any path but the page's own (404).
    EXPECT_EQ(post.Status, 405) << post.Head;
    EXPECT_NE(post.Head.find("\r\nAllow: GET, HEAD\r\n"), std::string::npos) << post.Head;
    EXPECT_EQ(big.Status, 431) << big.Head;
    for (size_t i = 0; i < outside.size(); ++i) {
        EXPECT_EQ(refused[i].Status, 404) << outside[i] << ": " << refused[i].Head;
        EXPECT_EQ(refused[i].Body.find("root:"), std::string::npos) << outside[i];
    }
    EXPECT_EQ(last.Status, 200);
    EXPECT_EQ(taken.Status, 1);
    EXPECT_EQ(Lf(taken.Err), "quorvelle-batch: --serve 127.0.0.1:" + std::to_string(port) +
                                 ": cannot listen: port " + std::to_string(port) + " is in use\n");

    // The run ends as usual, its rows all written.
    EXPECT_EQ(batch.Wait(60s), 0) << Lf(FileText(folder.Path("err")));
    EXPECT_GE(TextLines(seconds).size(), 1u + 18u);
}

}  // namespace qv
