// Test helper: a private X server (Xvfb, by default 1024 x 768 x 24 at 96 dots per inch) on a
// display number of its own, for GUI tests that drive the real window with xdotool and photograph
// it with ImageMagick's import. It needs no running desktop, no window manager and no authorisation
// file; it is stopped when the object goes (the test process's death kills it).
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/test_files.h"
#include "tests/tool_runner.h"

namespace qv {

class PrivateXServer {
public:
    PrivateXServer() = default;
    // A server of another size or resolution: a high-DPI screen, for example.
    PrivateXServer(int width, int height, int dotsPerInch)
        : size_(std::to_string(width) + "x" + std::to_string(height) + "x24"),
          dpi_(std::to_string(dotsPerInch)) {}
    PrivateXServer(const PrivateXServer&) = delete;
    PrivateXServer& operator=(const PrivateXServer&) = delete;
    ~PrivateXServer() {
        Stop();
        if (!folder_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(folder_, ignored);
        }
    }

    // Starts the server and waits until a client gets an answer; false with the reason and
    // the server's output.
    bool Start(std::string& error) {
        for (const char* tool : {"Xvfb", "xdotool", "xdpyinfo", "import"}) {
            if (!OnPath(tool)) {
                error = std::string(tool) +
                        " is not installed (scripts/install-deps installs it: packages xvfb, "
                        "xdotool, x11-utils, imagemagick)";
                return false;
            }
        }
        char folder[] = "/tmp/quorvelle-x-XXXXXX";
        if (mkdtemp(folder) == nullptr) {
            error = std::string("mkdtemp: ") + std::strerror(errno);
            return false;
        }
        folder_ = folder;
        // -displayfd: the server picks the first free display number itself (the lock files in
        // /tmp settle races between parallel tests) and writes it to standard output once it
        // accepts connections. -noreset: no reset when the last client goes, between two
        // xdotool calls for example.
        const std::vector<std::string> argv = {"Xvfb",      "-displayfd", "1",       "-screen",
                                               "0",         size_,        "-dpi",    dpi_,
                                               "-nolisten", "tcp",        "-noreset"};
        if (!server_.Start(argv, {}, Output(), LogPath(), error)) return false;

        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < giveUp) {
            if (!server_.Running()) {
                error = "Xvfb ended at start-up (scripts/install-deps installs it):\n" +
                        FileText(LogPath());
                return false;
            }
            const std::string number = FileText(Output());
            if (!number.empty() && number.back() == '\n' &&
                std::isdigit(static_cast<unsigned char>(number[0]))) {
                display_ = ":" + number.substr(0, number.find_first_of("\r\n"));
                std::string out;
                if (Run({"xdpyinfo"}, out, std::chrono::seconds(10)) == 0) return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        error = "Xvfb did not answer within 20 s:\n" + FileText(LogPath()) + LastError();
        return false;
    }

    void Stop() { server_.Stop(std::chrono::seconds(5)); }

    // What a client of this server needs: the display, and no audio server started on the
    // side by a client's sound library.
    std::vector<std::string> Environment() const {
        return {"DISPLAY=" + display_, "JACK_NO_START_SERVER=1"};
    }
    const std::string& Display() const { return display_; }

    // Runs an X client (xdotool, import, xdpyinfo ...) against this server to its end, killed
    // after `limit`; its exit status (-1 when killed), its standard output in `out`.
    int Run(const std::vector<std::string>& argv, std::string& out,
            std::chrono::milliseconds limit = std::chrono::seconds(10)) const {
        const ToolRun r =
            RunProgram(argv, Environment(), folder_ + "/client.out", ClientErrorPath(), limit);
        out = r.Out;
        return r.Status;
    }
    // The standard error of the last Run, for failure messages.
    std::string LastError() const { return FileText(ClientErrorPath()); }

    std::string LogPath() const { return folder_ + "/server.log"; }

private:
    static bool OnPath(const std::string& program) {
        const char* path = std::getenv("PATH");
        std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
        for (size_t start = 0; start <= dirs.size();) {
            const size_t end = std::min(dirs.find(':', start), dirs.size());
            const std::string candidate = dirs.substr(start, end - start) + "/" + program;
            if (access(candidate.c_str(), X_OK) == 0) return true;
            start = end + 1;
        }
        return false;
    }

    std::string Output() const { return folder_ + "/server.out"; }
    std::string ClientErrorPath() const { return folder_ + "/client.err"; }

    std::string size_ = "1024x768x24";
    std::string dpi_ = "96";
    std::string folder_;
    std::string display_;
    ChildProcess server_;
};

}  // namespace qv
