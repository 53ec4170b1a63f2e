// The status page of quorvelle-batch --serve, in-process: the option's values, and what each
// route answers over the chain's snapshots (only fixed routes, whole CSV rows, each snapshot's
// panels encoded once, the report made at most once a minute).
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <tuple>

#include "serve/status_pages.h"
#include "tests/png_pixels.h"
#include "tests/test_files.h"
#include "tests/tool_runner.h"

namespace qv {

namespace {

// The PNG in an answer, decoded by the platform's own reader.
PngPixels Decoded(const PageAnswer& answer, const std::string& path) {
    WriteText(path, answer.Body);
    PngPixels pixels;
    EXPECT_TRUE(ReadPngPixels(path, pixels)) << path;
    return pixels;
}

}  // namespace

TEST(StatusPage, ServeOptionValues) {
    // The loopback unless an address is given.
    for (const auto& [text, host, port] :
         std::vector<std::tuple<std::string, std::string, int>>{{"8080", "127.0.0.1", 8080},
                                                                {"0", "127.0.0.1", 0},
                                                                {"0.0.0.0:65535", "0.0.0.0", 65535},
                                                                {"[::1]:8080", "::1", 8080}}) {
        ServeAddress a;
        std::string error;
        EXPECT_TRUE(ParseServeAddress(text, a, error)) << text << ": " << error;
#ifdef _WIN32
        // The name http.sys serves the loopback under.
        const std::string shown = host == "127.0.0.1" || host == "::1" ? "localhost"
                                  : a.Ipv6                             ? "[" + host + "]"
                                                                       : host;
#else
        const std::string shown = a.Ipv6 ? "[" + host + "]" : host;
#endif
        EXPECT_EQ(ServeUrl(a, a.Port), "http://" + shown + ":" + std::to_string(port) + "/");
    }
    for (const char* bad : {"", "abc", "70000", "-1", "8080x", "1.2.3:80", "256.1.1.1:80",
                            "1.2.3.4.:80", "host:80", "127.0.0.1:", "[::1]", "[zz]:80"}) {
        ServeAddress a;
        std::string error;
        EXPECT_FALSE(ParseServeAddress(bad, a, error)) << bad;
        EXPECT_NE(error.find("--serve"), std::string::npos) << bad;
    }

    // On the command line: bad values and --serve without --capture are usage errors.
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"--capture", "--simulate", "5", "--serve", "70000"},
                                               {"--simulate", "5", "--serve", "8080"},
                                               {"--capture", "--simulate", "5", "--serve"}}) {
        const ToolRun r = RunBatchTool(args);
        EXPECT_EQ(r.Status, 2) << args[3];
        EXPECT_TRUE(IsUsageErrorLine(r.Err, "quorvelle-batch")) << r.Err;
    }
    EXPECT_NE(RunBatchTool({"--simulate", "5", "--serve", "8080"}).Err.find("needs --capture"),
              std::string::npos);
}

TEST(StatusPage, RoutesOverSnapshots) {
    TestFolder folder;
    StatusExchange exchange;
    int reportsMade = 0;
    bool reportFails = false;
    auto now = std::chrono::steady_clock::time_point{};
    StatusPages pages(
        exchange,
        [&](const std::string& seconds, const std::string&, std::string& png, std::string& error) {
            ++reportsMade;
            if (reportFails) return error = "nothing to draw", false;
            return png = "PNG of " + seconds, true;
        },
        [&now] { return now; });

    // Before the first snapshot: the page and its numbers, no pictures, no files.
    EXPECT_EQ(pages.Answer("/").Status, 200);
    EXPECT_NE(pages.Answer("/status.json").Body.find("\"second\": 0"), std::string::npos);
    for (const char* path : {"/chart.png", "/report.png", "/seconds.csv", "/periods.csv"}) {
        EXPECT_EQ(pages.Answer(path).Status, 404) << path;
    }

    auto s = std::make_shared<StatusSnapshot>();
    s->Second = 12;
    s->Scope = Surface(126, 168);
    s->Vector = Surface(168, 168);
    s->Chart = Surface(766, 338);
    FillWhite(s->Chart, 0, 0, 10, 5);
    s->Readouts = {{"IDFREQERROR", "Freq error = 37.29ppm"}, {"IDCLICKPHASE", "a \"quoted\" <b>"}};
    s->StateName = "locked";
    s->FreqErrorPpm = 37.25L;
    s->SecondsCsv = folder.Path("seconds.csv");
    WriteText(s->SecondsCsv, "time,t_s\n1,1\n2,2\n3,");  // a row still being written
    exchange.Publish(s);

    const std::string json = pages.Answer("/status.json").Body;
    for (const char* part : {"\"second\": 12", "\"name\": \"locked\"", "\"freq_error_ppm\": 37.25",
                             "\"IDCLICKPHASE\": \"a \\\"quoted\\\" <b>\"", "\"seconds_csv\": true",
                             "\"periods_csv\": false"}) {
        EXPECT_NE(json.find(part), std::string::npos) << part << " in " << json;
    }
    const std::string html = pages.Answer("/").Body;
    EXPECT_NE(html.find("a &quot;quoted&quot; &lt;b&gt;"), std::string::npos) << html;

    const PageAnswer chart = pages.Answer("/chart.png");
    EXPECT_EQ(chart.ContentType, "image/png");
    const PngPixels pixels = Decoded(chart, folder.Path("chart.png"));
    EXPECT_EQ(pixels.Width, 766);
    EXPECT_EQ(pixels.Height, 338);
    EXPECT_EQ(pixels.Rgb[0], 255);  // the white corner, on black
    EXPECT_EQ(pixels.Rgb[3 * 20], 0);
    EXPECT_EQ(Decoded(pages.Answer("/scope.png"), folder.Path("scope.png")).Width, 126);
    EXPECT_EQ(pages.Answer("/chart.png").Body, chart.Body);

    const PageAnswer csv = pages.Answer("/seconds.csv");
    EXPECT_EQ(csv.Status, 200);
    EXPECT_EQ(csv.FilePath, s->SecondsCsv);
    EXPECT_EQ(csv.FileBytes, 17u);  // the header and two whole rows
    EXPECT_EQ(pages.Answer("/periods.csv").Status, 404);

    // No path reaches a file: only the fixed names answer.
    for (const char* path : {"/../seconds.csv", "/seconds.csv/", "//status.json", "/STATUS.JSON",
                             "/%2e%2e/etc/passwd", "/../../etc/passwd", "", "/index.html"}) {
        const PageAnswer a = pages.Answer(path);
        EXPECT_EQ(a.Status, 404) << path;
        EXPECT_TRUE(a.FilePath.empty()) << path;
    }

    // The report: made once for a minute, again after it or for other files; a failure is a
    // 404 with its reason.
    EXPECT_EQ(pages.Answer("/report.png").Body, "PNG of " + s->SecondsCsv);
    now += std::chrono::seconds(59);
    pages.Answer("/report.png");
    EXPECT_EQ(reportsMade, 1);
    now += std::chrono::seconds(1);
    reportFails = true;
    const PageAnswer failed = pages.Answer("/report.png");
    EXPECT_EQ(reportsMade, 2);
    EXPECT_EQ(failed.Status, 404);
    EXPECT_NE(failed.Body.find("nothing to draw"), std::string::npos);
    reportFails = false;
    auto nextDay = std::make_shared<StatusSnapshot>(*s);
    nextDay->SecondsCsv = folder.Path("next.csv");
    nextDay->Chart = Surface(10, 10);
    exchange.Publish(nextDay);
    EXPECT_EQ(pages.Answer("/report.png").Body, "PNG of " + nextDay->SecondsCsv);
    EXPECT_EQ(reportsMade, 3);
    // A new snapshot's panels are its own.
    EXPECT_EQ(Decoded(pages.Answer("/chart.png"), folder.Path("next.png")).Width, 10);
}

}  // namespace qv
