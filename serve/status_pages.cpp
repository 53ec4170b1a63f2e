// The status page's routes: the page itself, its JSON, the panels' and the report's PNGs and
// the run's CSV files.
#include "serve/status_pages.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <fstream>

#include "common/command_line.h"
#include "files/capture_bitmap.h"
#include "files/csv_file.h"

namespace qv {

namespace {

constexpr const char* kPanelRoutes[] = {"/scope.png", "/iq.png", "/chart.png"};
constexpr const char* kTextType = "text/plain; charset=utf-8";
constexpr const char* kCsvType = "text/csv; charset=utf-8";
constexpr const char* kPngType = "image/png";
constexpr int kTailBytes = 65536;  // [bytes] read back from a CSV file's end to find its last row

// Four decimal numbers from 0 to 255 separated by dots, nothing else.
bool IsIpv4(const std::string& text) {
    int parts = 0;
    size_t at = 0;
    while (parts < 4) {
        const size_t dot = text.find('.', at);
        const std::string part = text.substr(at, dot == std::string::npos ? dot : dot - at);
        int value = 0;
        if (part.empty() || part.size() > 3 || !ParseWholeNumber(part, 0, 255, value)) return false;
        ++parts;
        if (dot == std::string::npos) break;
        at = dot + 1;
    }
    return parts == 4 && text.back() != '.';
}

// Hexadecimal digits, colons and the dots of an embedded IPv4 address, with a colon: the
// system's parser has the last word when the address is bound.
bool LooksLikeIpv6(const std::string& text) {
    return text.find(':') != std::string::npos && std::all_of(text.begin(), text.end(), [](char c) {
               return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.';
           });
}

PageAnswer Text(int status, const std::string& text) {
    return {status, kTextType, text + "\n", "", 0};
}

std::string JsonText(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// The shortest form that reads back to the same value, as the CSV files write it; null for
// what JSON has no number for.
std::string JsonNumber(long double v) { return std::isfinite(v) ? CsvNumber(v) : "null"; }

std::string HtmlText(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// The page: the three panels as the window arranges them, the read-outs and the state, with a
// few lines of script that take the numbers and the pictures anew each second (without script,
// the page reloads itself every 5 s).
std::string PageHtml(const StatusSnapshot* s) {
    std::string readouts;
    if (s != nullptr) {
        for (const auto& [label, text] : s->Readouts) {
            readouts += "<tr><td id=\"" + HtmlText(label) + "\">" + HtmlText(text) + "</td></tr>\n";
        }
    }
    auto image = [](const char* id, const char* route, const Surface* panel) {
        const std::string size = panel != nullptr && panel->Width > 0
                                     ? " width=\"" + std::to_string(panel->Width) + "\" height=\"" +
                                           std::to_string(panel->Height) + "\""
                                     : "";
        return std::string("<img id=\"") + id + "\" src=\"" + route + "\" alt=\"" + id + "\"" +
               size + ">";
    };
    const std::string state = s != nullptr && !s->Brief.empty() ? s->Brief : "starting";
    return std::string(
               "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n"
               "<title>GPS QuorVelle</title>\n"
               "<noscript><meta http-equiv=\"refresh\" content=\"5\"></noscript>\n"
               "<style>body{font-family:sans-serif;margin:10px;background:#eee}"
               "img{border:2px inset #ccc;background:#fff;vertical-align:top;margin:0 4px 4px 0}"
               "table{display:inline-table;vertical-align:top;font-size:14px}"
               "#state{font-weight:bold}</style>\n</head><body>\n"
               "<div>") +
           image("scope", kPanelRoutes[0], s != nullptr ? &s->Scope : nullptr) +
           image("iq", kPanelRoutes[1], s != nullptr ? &s->Vector : nullptr) +
           "<table id=\"readouts\">\n" + readouts + "</table></div>\n<div>" +
           image("chart", kPanelRoutes[2], s != nullptr ? &s->Chart : nullptr) +
           "</div>\n<p id=\"state\">" + HtmlText(state) + "</p>\n<p id=\"detail\">" +
           (s != nullptr ? HtmlText(s->StateText) : "") + "</p>\n<p id=\"time\">" +
           (s != nullptr ? HtmlText(s->TimeOfDay) : "") +
           "</p>\n<p><a href=\"/report.png\">report of the day so far</a> | "
           "<a href=\"/seconds.csv\">seconds.csv</a> | <a href=\"/periods.csv\">periods.csv</a> | "
           "<a href=\"/status.json\">status.json</a></p>\n"
           "<script>\n"
           "let shown = -1;\n"
           "async function update() {\n"
           "  try {\n"
           "    const s = await (await fetch('/status.json', {cache: 'no-store'})).json();\n"
           "    document.getElementById('state').textContent = s.brief || s.state.name;\n"
           "    document.getElementById('detail').textContent = s.state.text;\n"
           "    document.getElementById('time').textContent = s.time;\n"
           "    const table = document.getElementById('readouts');\n"
           "    for (const [label, text] of Object.entries(s.readouts)) {\n"
           "      let cell = document.getElementById(label);\n"
           "      if (!cell) { cell = table.insertRow().insertCell(); cell.id = label; }\n"
           "      cell.textContent = text;\n"
           "    }\n"
           "    if (s.second !== shown) {\n"
           "      shown = s.second;\n"
           "      for (const id of ['scope', 'iq', 'chart'])\n"
           "        document.getElementById(id).src = '/' + id + '.png?second=' + s.second;\n"
           "    }\n"
           "  } catch (e) {\n"
           "    document.getElementById('state').textContent = 'no answer from the station';\n"
           "  }\n"
           "}\n"
           "setInterval(update, 1000);\n"
           "update();\n"
           "</script>\n</body></html>\n";
}

// The run's CSV file `path` as a download, whole rows only; 404 when the run has none.
PageAnswer CsvFileAnswer(const std::string& path, const char* what) {
    if (path.empty()) return Text(404, std::string("this run writes no ") + what);
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) return Text(404, std::string("no ") + what + " yet");
    const std::streamoff size = file.tellg();
    const std::streamoff tail = std::min<std::streamoff>(size, kTailBytes);
    std::string bytes(static_cast<size_t>(tail), '\0');
    file.seekg(size - tail);
    if (!file.read(bytes.data(), tail)) return Text(404, std::string("no ") + what + " yet");
    const size_t lastLine = bytes.rfind('\n');
    const uint64_t whole =
        lastLine == std::string::npos ? 0 : static_cast<uint64_t>(size - tail) + lastLine + 1;
    return {200, kCsvType, "", path, whole};
}

}  // namespace

bool ParseServeAddress(const std::string& text, ServeAddress& address, std::string& error) {
    ServeAddress a;
    std::string port = text;
    bool hostOk = true;
    if (!text.empty() && text[0] == '[') {
        const size_t close = text.find("]:");
        a.Host = close == std::string::npos ? "" : text.substr(1, close - 1);
        a.Ipv6 = true;
        hostOk = LooksLikeIpv6(a.Host);
        port = close == std::string::npos ? "" : text.substr(close + 2);
    } else if (const size_t colon = text.rfind(':'); colon != std::string::npos) {
        a.Host = text.substr(0, colon);
        hostOk = IsIpv4(a.Host);
        port = text.substr(colon + 1);
    }
    if (!hostOk || !ParseWholeNumber(port, 0, 65535, a.Port)) {
        error = "--serve: \"" + text +
                "\" is not PORT (0 to 65535, 0: any free port) or ADDRESS:PORT with a numeric "
                "address (0.0.0.0:8080, [::1]:8080)";
        return false;
    }
    address = a;
    return true;
}

std::string ServeHostPort(const ServeAddress& address, int port) {
    return (address.Ipv6 ? "[" + address.Host + "]" : address.Host) + ":" + std::to_string(port);
}

std::string ServeUrl(const ServeAddress& address, int port) {
#ifdef _WIN32
    // http.sys serves the loopback under the name it lets any user register, and answers only
    // requests for that name.
    if (address.Host == "127.0.0.1" || address.Host == "::1") {
        return "http://localhost:" + std::to_string(port) + "/";
    }
#endif
    return "http://" + ServeHostPort(address, port) + "/";
}

std::string StatusJson(const StatusSnapshot* s) {
    const StatusSnapshot none;
    if (s == nullptr) s = &none;
    std::string readouts;
    for (const auto& [label, text] : s->Readouts) {
        readouts += (readouts.empty() ? "" : ", ") + JsonText(label) + ": " + JsonText(text);
    }
    const bool second = s->Second > 0;
    auto value = [second](long double v) { return second ? JsonNumber(v) : "null"; };
    std::string json = "{\"second\": " + std::to_string(s->Second) +
                       ", \"time\": " + JsonText(s->TimeOfDay) +
                       ",\n \"state\": {\"name\": " + JsonText(s->StateName) +
                       ", \"text\": " + JsonText(s->StateText) +
                       ", \"seconds\": " + std::to_string(s->StateSeconds) + "}" +
                       ",\n \"brief\": " + JsonText(s->Brief);
    json += ",\n \"card\": {\"source\": " +
            (s->FrequencySource.empty() ? "null" : JsonText(s->FrequencySource)) +
            ", \"ppm\": " + (s->FrequencySource.empty() ? "null" : JsonNumber(s->CardPpm)) +
            ", \"uncertainty_ppm\": " +
            (s->FrequencySource.empty() ? "null" : JsonNumber(s->CardUncertaintyPpm)) + "}";
    json += ",\n \"fine\": {\"valid\": " + std::string(s->FineValid ? "true" : "false") +
            ", \"card_ppm\": " + (s->FineValid ? JsonNumber(s->FineCardPpm) : "null") +
            ", \"card_ppm_se\": " + (s->FineValid ? JsonNumber(s->FineCardPpmSe) : "null") + "}";
    json += ",\n \"values\": {\"freq_error_ppm\": " + value(s->FreqErrorPpm) +
            ", \"timing_error_us\": " + value(s->TimingErrorUs) +
            ", \"audio_level_pct\": " + value(s->AudioLevelPct) +
            ", \"lock_freq_hz\": " + (s->ClickRead ? JsonNumber(s->LockFrequencyHz) : "null") +
            ", \"click_phase_deg\": " + (s->ClickRead ? JsonNumber(s->ClickPhaseDeg) : "null") +
            ", \"click_level_pct\": " + (s->ClickRead ? JsonNumber(s->ClickLevelPct) : "null") +
            "}";
    json += ",\n \"readouts\": {" + readouts + "}";
    json += ",\n \"periods_closed\": " + std::to_string(s->PeriodsClosed) +
            ", \"frames_processed\": " + std::to_string(s->FramesProcessed) +
            ",\n \"files\": {\"seconds_csv\": " + (s->SecondsCsv.empty() ? "false" : "true") +
            ", \"periods_csv\": " + (s->PeriodsCsv.empty() ? "false" : "true") + "}}\n";
    return json;
}

PageAnswer StatusPages::Answer(const std::string& path) {
    const std::shared_ptr<const StatusSnapshot> s = exchange_.Latest();
    if (path == "/") return {200, "text/html; charset=utf-8", PageHtml(s.get()), "", 0};
    if (path == "/status.json") return {200, "application/json", StatusJson(s.get()), "", 0};
    for (int panel = 0; panel < 3; ++panel) {
        if (path == kPanelRoutes[panel]) return Panel(s, panel);
    }
    if (path == "/report.png") return Report(s);
    if (path == "/seconds.csv") return CsvFileAnswer(s ? s->SecondsCsv : "", "seconds.csv");
    if (path == "/periods.csv") return CsvFileAnswer(s ? s->PeriodsCsv : "", "periods.csv");
    return Text(404, "not found");
}

PageAnswer StatusPages::Panel(const std::shared_ptr<const StatusSnapshot>& s, int panel) {
    if (!s) return Text(404, "no picture yet");
    std::lock_guard<std::mutex> lock(mutex_);
    if (s != encodedFor_) {
        encodedFor_ = s;
        for (std::string& png : png_) png.clear();
    }
    if (png_[panel].empty()) {
        const Surface* surfaces[] = {&s->Scope, &s->Vector, &s->Chart};
        std::string error;
        if (!EncodePng(*surfaces[panel], png_[panel], error)) return Text(500, error);
    }
    return {200, kPngType, png_[panel], "", 0};
}

PageAnswer StatusPages::Report(const std::shared_ptr<const StatusSnapshot>& s) {
    if (!report_) return Text(404, "no report here: quorvelle-report draws one of the CSV files");
    if (!s || s->SecondsCsv.empty()) return Text(404, "no report: this run writes no CSV files");
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string files = s->SecondsCsv + "\n" + s->PeriodsCsv;
    const auto now = clock_();
    if (!reportValid_ || files != reportFor_ || now - reportMade_ >= kReportCacheTime) {
        reportPng_.clear();
        reportError_.clear();
        if (!report_(s->SecondsCsv, s->PeriodsCsv, reportPng_, reportError_)) {
            reportPng_.clear();
            if (reportError_.empty()) reportError_ = "no report";
        }
        reportFor_ = files;
        reportMade_ = now;
        reportValid_ = true;
    }
    if (reportPng_.empty()) return Text(404, "no report yet: " + reportError_);
    return {200, kPngType, reportPng_, "", 0};
}

}  // namespace qv
