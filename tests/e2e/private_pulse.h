// Test helper: a private PulseAudio server with one null sink at 8000 Hz stereo whose monitor
// is the default source, so a WAV played into the sink with paplay can be captured through
// PortAudio's ALSA "pulse" device; more null sinks at other rates can be added and removed.
// Everything it needs lives in the test's folder; it runs as any user, root included, on a machine
// without a sound card or a running audio server, and is stopped when the object goes (the test
// process's death kills it too).
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/tool_runner.h"

namespace qv {

class PrivatePulseServer {
public:
    static constexpr const char* kSinkName = "quorvelle";

    ~PrivatePulseServer() {
        Stop();
        if (!folder_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(folder_, ignored);
        }
    }

    // Starts the server in a new temporary folder; false with the reason and the server's log.
    bool Start(std::string& error) {
        // A short path: the server's socket name must fit in 108 bytes.
        char folder[] = "/tmp/quorvelle-pulse-XXXXXX";
        if (mkdtemp(folder) == nullptr) {
            error = std::string("mkdtemp: ") + std::strerror(errno);
            return false;
        }
        folder_ = folder;
        for (const char* dir : {"/runtime", "/home", "/xdg", "/state"}) {
            std::filesystem::create_directories(folder_ + dir);
            chmod((folder_ + dir).c_str(), 0700);  // the server refuses a runtime dir others see
        }
        const std::string script = folder_ + "/server.pa";
        std::ofstream(script) << "load-module module-native-protocol-unix socket=" << Socket()
                              << " auth-anonymous=1\n"
                              << "load-module module-null-sink sink_name=" << kSinkName
                              << " rate=8000 channels=2 format=s16le\n"
                              << "set-default-sink " << kSinkName << "\n"
                              << "set-default-source " << kSinkName << ".monitor\n";
        // -n: none of the system's start-up script (no hardware detection, no D-Bus modules);
        // no daemonising, no idle exit, no pid file; the memory-sharing transport is off so a
        // container's small /dev/shm cannot get in the way (the data rate is 32 kB/s).
        const std::vector<std::string> argv = {"pulseaudio",
                                               "-n",
                                               "-F",
                                               script,
                                               "--daemonize=no",
                                               "--exit-idle-time=-1",
                                               "--use-pid-file=no",
                                               "--system=no",
                                               "--disable-shm=yes",
                                               "--realtime=no",
                                               "--high-priority=no",
                                               "--log-target=stderr",
                                               "--log-level=notice"};
        const std::vector<std::string> env = {"HOME=" + folder_ + "/home",
                                              "XDG_RUNTIME_DIR=" + folder_ + "/xdg",
                                              "XDG_CONFIG_HOME=" + folder_ + "/home",
                                              "PULSE_RUNTIME_PATH=" + folder_ + "/runtime",
                                              "PULSE_STATE_PATH=" + folder_ + "/state",
                                              "PULSE_SERVER="};
        if (!server_.Start(argv, env, folder_ + "/server.out", LogPath(), error)) return false;

        // Ready when a client gets an answer.
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < giveUp) {
            if (!server_.Running()) {
                error =
                    "pulseaudio ended at start-up (is it installed? scripts/install-deps "
                    "installs it):\n" +
                    FileText(LogPath());
                return false;
            }
            if (RunProgram({"pactl", "info"}, ClientEnvironment(), folder_ + "/pactl.out",
                           folder_ + "/pactl.err", std::chrono::seconds(5))
                    .Status == 0) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        error = "pulseaudio did not answer within 20 s:\n" + FileText(LogPath()) +
                FileText(folder_ + "/pactl.err");
        return false;
    }

    void Stop() { server_.Stop(std::chrono::seconds(5)); }

    // What a client (paplay, quorvelle-batch) needs to find this server and no other.
    std::vector<std::string> ClientEnvironment() const {
        return {"PULSE_SERVER=unix:" + Socket(), "HOME=" + folder_ + "/home",
                "XDG_RUNTIME_DIR=" + folder_ + "/xdg", "JACK_NO_START_SERVER=1"};
    }

    // Starts playing `wav` into the null sink `sink`.
    bool Play(ChildProcess& player, const std::string& wav, std::string& error,
              const std::string& sink = kSinkName) const {
        return player.Start({"paplay", "--device=" + sink, wav}, ClientEnvironment(),
                            folder_ + "/paplay.out", folder_ + "/paplay.err", error);
    }

    // Adds a null sink `name` at `rate` frames per second, stereo 16-bit; its monitor, the
    // source "<name>.monitor", runs at the same rate.
    bool AddSink(const std::string& name, int rate, std::string& error) {
        const ToolRun r = Pactl({"load-module", "module-null-sink", "sink_name=" + name,
                                 "rate=" + std::to_string(rate), "channels=2", "format=s16le"});
        if (r.Status != 0) {
            error = "pactl load-module module-null-sink " + name + ": " + r.Err;
            return false;
        }
        sinkModules_.push_back({name, r.Out.substr(0, r.Out.find('\n'))});
        return true;
    }

    // Removes a sink AddSink added, and its monitor with it, as when a card is unplugged.
    bool RemoveSink(const std::string& name, std::string& error) {
        for (const auto& [sink, module] : sinkModules_) {
            if (sink != name) continue;
            const ToolRun r = Pactl({"unload-module", module});
            if (r.Status == 0) return true;
            error = "pactl unload-module " + module + ": " + r.Err;
            return false;
        }
        error = "no sink " + name + " was added";
        return false;
    }

    std::string LogPath() const { return folder_ + "/server.log"; }

private:
    std::string Socket() const { return folder_ + "/runtime/native"; }

    ToolRun Pactl(std::vector<std::string> words) const {
        words.insert(words.begin(), "pactl");
        return RunProgram(words, ClientEnvironment(), folder_ + "/pactl.out",
                          folder_ + "/pactl.err", std::chrono::seconds(10));
    }

    std::string folder_;
    ChildProcess server_;
    std::vector<std::pair<std::string, std::string>> sinkModules_;  // sink name, module index
};

}  // namespace qv
