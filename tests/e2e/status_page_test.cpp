// quorvelle-batch --capture --serve: the status page of a live run of the simulator, fetched
// over HTTP and shown by a headless Chromium while the run measures; a thousand malformed and
// oversized requests that leave it answering and the run's rows as a run without the page
// writes them; and nothing but the loopback listening.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/http_client.h"
#include "tests/png_pixels.h"
#include "tests/test_files.h"
#include "tests/tool_runner.h"

namespace qv {

namespace {

using namespace std::chrono_literals;

// The local addresses ("0100007F:1F90") of the sockets process `pid` listens on, IPv6 ones
// with "6:" before them.
std::set<std::string> ListeningAddresses(pid_t pid) {
    std::set<std::string> inodes, addresses;
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    for (const auto& entry : std::filesystem::directory_iterator(fds)) {
        std::error_code error;
        const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
        if (target.rfind("socket:[", 0) == 0) inodes.insert(target.substr(8, target.size() - 9));
    }
    for (const char* table : {"tcp", "tcp6"}) {
        std::ifstream file(std::string("/proc/net/") + table);
        std::string line, slot, local, remote, state, skip, inode;
        std::getline(file, line);
        while (std::getline(file, line)) {
            std::istringstream fields(line);
            fields >> slot >> local >> remote >> state >> skip >> skip >> skip >> skip >> skip >>
                inode;
            if (state == "0A" && inodes.count(inode) > 0)
                addresses.insert((table[3] == '6' ? "6:" : "") + local);
        }
    }
    return addresses;
}

// The rows of the CSV files named `name` in `dir` and its folders (in the order of their
// paths: days), each without its first cell (the wall-clock time, which differs between two
// live runs), the header rows left out.
std::vector<std::string> MeasuredRows(const std::string& dir, const std::string& name) {
    std::vector<std::string> files, rows;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
        if (entry.path().filename() == name) files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    for (const std::string& path : files) {
        const std::vector<std::string> lines = TextLines(path);
        for (size_t i = 1; i < lines.size(); ++i)
            rows.push_back(lines[i].substr(lines[i].find(',')));
    }
    return rows;
}

}  // namespace

TEST(StatusPageProgram, LivePageUnderMalformedRequests) {
    TestFolder folder;
    const std::string served = folder.Path("served"), plain = folder.Path("plain");
    std::filesystem::create_directory(plain);
    const std::vector<std::string> simulate = {QUORVELLE_BATCH_BIN, "--capture", "--quiet",
                                               "--simulate", "30"};
    std::vector<std::string> withPage = simulate, without = simulate;
    withPage.insert(withPage.end(), {"--serve", "0", "--daily", served});
    without.insert(without.end(),
                   {"--csv", plain + "/seconds.csv", "--iq-csv", plain + "/periods.csv"});
    ChildProcess page, reference;
    std::string error;
    ASSERT_TRUE(page.Start(withPage, {}, folder.Path("out"), folder.Path("err"), error)) << error;
    ASSERT_TRUE(reference.Start(without, {}, folder.Path("out2"), folder.Path("err2"), error));

    std::smatch found;
    const std::regex url("status page: http://127\\.0\\.0\\.1:([0-9]+)/\n");
    std::string err;
    ASSERT_TRUE(WaitWhileRunning(
        page, [&] { return std::regex_search(err = FileText(folder.Path("err")), found, url); },
        10s))
        << err;
    const int port = std::stoi(found[1]);
    // A port in use and an address the machine does not have: one line, status 1, nothing
    // written.
    for (const std::string& taken : {std::to_string(port), std::string("192.0.2.1:8080")}) {
        const ToolRun r = RunProgram({QUORVELLE_BATCH_BIN, "--capture", "--simulate", "5",
                                      "--serve", taken, "--csv", folder.Path("never.csv")},
                                     {}, folder.Path("out3"), folder.Path("err3"), 10s);
        EXPECT_EQ(r.Status, 1) << r.Err;
        EXPECT_TRUE(r.Err.starts_with("quorvelle-batch: --serve ") &&
                    r.Err.find(": cannot listen: ") != std::string::npos &&
                    r.Err.find('\n') == r.Err.size() - 1)
            << r.Err;
        EXPECT_FALSE(std::filesystem::exists(folder.Path("never.csv")));
    }
    EXPECT_EQ(ListeningAddresses(page.Pid()), std::set<std::string>{"0100007F:" + [port] {
                  char hex[8];
                  std::snprintf(hex, sizeof hex, "%04X", port);
                  return std::string(hex);
              }()});

    // Once the chain has measured some seconds: every route, as a browser and a program see it.
    ASSERT_TRUE(WaitWhileRunning(
        page,
        [&] {
            return std::regex_search(BodyOf(Get(port, "/status.json")),
                                     std::regex("\"second\": ([89]|[1-9][0-9])"));
        },
        15s));
    const std::string json = BodyOf(Get(port, "/status.json"));
    for (const char* part : {"\"IDFREQERROR\": \"Freq error = ", "\"state\": {\"name\": \"",
                             "\"fine\": {\"valid\": ", "\"seconds_csv\": true"}) {
        EXPECT_NE(json.find(part), std::string::npos) << part << " in " << json;
    }
    EXPECT_NE(BodyOf(Get(port, "/")).find("<img id=\"chart\""), std::string::npos);
    EXPECT_EQ(BodyOf(Get(port, "/", "HEAD")), "");
    for (const auto& [path, size] :
         std::vector<std::pair<std::string, std::pair<int, int>>>{{"/scope.png", {126, 168}},
                                                                  {"/iq.png", {168, 168}},
                                                                  {"/chart.png", {766, 338}},
                                                                  {"/report.png", {1200, 800}}}) {
        const std::string answer = Get(port, path);
        ASSERT_EQ(StatusOf(answer), 200) << path << ": " << BodyOf(answer);
        WriteText(folder.Path("fetched.png"), BodyOf(answer));
        PngPixels pixels;
        ASSERT_TRUE(ReadPngPixels(folder.Path("fetched.png"), pixels)) << path;
        EXPECT_EQ(std::make_pair(pixels.Width, pixels.Height), size) << path;
    }
    EXPECT_EQ(BodyOf(Get(port, "/seconds.csv")).rfind("time,t_s,", 0), 0u);

    // The page in a browser, the panels in their places and drawn.
    const std::string shot = folder.Path("page.png");
    const ToolRun browser = RunProgram(
        {"chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
         "--no-first-run", "--disable-background-networking", "--disable-component-update",
         "--disable-sync", "--user-data-dir=" + folder.Path("browser"), "--screenshot=" + shot,
         "--window-size=800,640", "http://127.0.0.1:" + std::to_string(port) + "/"},
        {}, folder.Path("browser.out"), folder.Path("browser.err"), 60s);
    ASSERT_EQ(browser.Status, 0) << "chromium (scripts/install-deps test): " << browser.Err;
    PngPixels screen;
    ASSERT_TRUE(ReadPngPixels(shot, screen));
    ASSERT_EQ(std::make_pair(screen.Width, screen.Height), std::make_pair(800, 640));
    // Inside the scope (top left) and the chart (below): drawn, in several colours, none of
    // them the page's grey.
    for (const auto& [x0, y0, x1, y1] :
         std::vector<std::tuple<int, int, int, int>>{{20, 20, 130, 170}, {20, 200, 770, 500}}) {
        std::set<int> colours;
        for (int y = y0; y < y1; ++y) {
            for (int x = x0; x < x1; ++x) {
                const uint8_t* rgb = &screen.Rgb[3 * (static_cast<size_t>(y) * screen.Width + x)];
                colours.insert(rgb[0] << 16 | rgb[1] << 8 | rgb[2]);
            }
        }
        EXPECT_EQ(colours.count(0xeeeeee), 0u) << x0 << "," << y0;
        EXPECT_GE(colours.size(), 3u) << x0 << "," << y0;
    }

    // A thousand malformed, oversized, refused and half-sent requests, and more clients at once
    // than the page serves.
    const std::string host = "Host: 127.0.0.1\r\nConnection: close\r\n";
    uint32_t seed = 12345;
    for (int i = 0; i < 1000; ++i) {
        std::string garbage(256, '\0');
        for (char& c : garbage) c = static_cast<char>((seed = seed * 1103515245 + 12345) >> 16);
        const std::vector<std::pair<std::string, bool>> requests = {
            {garbage + "\r\n\r\n", false},
            {"GET / HTTP/1.1\r\n" + host + "X-Big: " + std::string(9000, 'a') + "\r\n\r\n", false},
            {"GET / HTTP/1.1\r\n" + host + "X-Big: " + std::string(100000, 'b') + "\r\n\r\n",
             false},
            {"POST /status.json HTTP/1.1\r\n" + host + "Content-Length: 5\r\n\r\nhello", false},
            {"BREW / HTTP/1.1\r\n" + host + "\r\n", false},
            {"GET /../../etc/passwd HTTP/1.1\r\n" + host + "\r\n", false},
            {"GET /%2e%2e/%2e%2e/etc/passwd HTTP/1.1\r\n" + host + "\r\n", false},
            {"GET /status.json HTT", true},
            {"GET /status.json HTTP/1.1\r\n" + host, true},
            {"GET /status.json HTTP/1.1\r\n" + host + "\r\n", false}};
        const auto& [request, closeEarly] = requests[i % requests.size()];
        const std::string answer = Exchange(port, request, closeEarly);
        EXPECT_EQ(answer.find("root:"), std::string::npos) << i;
        // What each kind answers: 0 refused in any way but 200.
        constexpr int kExpected[] = {0, 0, 0, 405, 405, 404, 404, 0, 0, 200};
        const int expected = kExpected[i % 10], status = StatusOf(answer);
        if (expected == 0) {
            EXPECT_NE(status, 200) << i << ": " << answer.substr(0, 200);
        } else {
            EXPECT_EQ(status, expected) << i << ": " << answer.substr(0, 200);
        }
        if (i == 500) {
            std::vector<int> idle;
            for (int k = 0; k < 20; ++k) idle.push_back(Connect(port));
            Get(port, "/status.json");  // served or refused, but not waited for forever
            for (const int fd : idle) close(fd);
        }
    }
    EXPECT_EQ(StatusOf(Get(port, "/status.json")), 200);

    // The run ends as usual, its rows those of the run without the page.
    EXPECT_EQ(page.Wait(30s), 0) << FileText(folder.Path("err"));
    EXPECT_EQ(reference.Wait(30s), 0) << FileText(folder.Path("err2"));
    const std::vector<std::string> rows = MeasuredRows(served, "seconds.csv");
    EXPECT_GE(rows.size(), 28u);
    EXPECT_EQ(rows, MeasuredRows(plain, "seconds.csv"));
    EXPECT_EQ(MeasuredRows(served, "periods.csv"), MeasuredRows(plain, "periods.csv"));
}

}  // namespace qv
