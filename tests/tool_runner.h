// Test helper for running our programs: in-process through a tool's entry function, as the unit
// tests do, or as a child process of a built program with extra environment variables, its
// output in files, a time limit and signals, as the end-to-end tests do.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#ifndef _WIN32
#include <sys/prctl.h>
#include <sys/wait.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/test_files.h"
#include "tools/batch.h"
#include "tools/report.h"
#include "tools/sim_tool.h"

#ifndef _WIN32
extern char** environ;  // the process environment (POSIX), for the child's
#endif

namespace qv {

// What a run of a program leaves: its exit status and everything it wrote.
struct ToolRun {
    int Status = -1;  // -1: killed, or died of a signal
    std::string Out, Err;
};

// argv as a program receives it: the program's name, the words, then a null pointer.
class Argv {
public:
    Argv(const std::string& program, std::vector<std::string> words) : words_(std::move(words)) {
        words_.insert(words_.begin(), program);
        for (std::string& word : words_) pointers_.push_back(word.data());
        pointers_.push_back(nullptr);
    }
    Argv(const Argv&) = delete;  // the pointers point into this object's strings
    Argv& operator=(const Argv&) = delete;

    int Count() const { return static_cast<int>(words_.size()); }
    char** Data() { return pointers_.data(); }

private:
    std::vector<std::string> words_;
    std::vector<char*> pointers_;
};

// ---------------------------------------------------------------------------------------------
// In-process: a tool's entry function with string streams for its output

using ToolEntry = int (*)(int argc, char** argv, std::ostream& out, std::ostream& err);

inline ToolRun RunInProcess(ToolEntry entry, const std::string& program,
                            std::vector<std::string> args) {
    Argv argv(program, std::move(args));
    std::ostringstream out, err;
    ToolRun r;
    r.Status = entry(argv.Count(), argv.Data(), out, err);
    r.Out = out.str();
    r.Err = err.str();
    return r;
}

inline ToolRun RunBatchTool(std::vector<std::string> args) {
    return RunInProcess(RunBatch, "quorvelle-batch", std::move(args));
}

inline ToolRun RunSimulatorTool(std::vector<std::string> args) {
    return RunInProcess(RunSimTool, "quorvelle-sim", std::move(args));
}

inline ToolRun RunReportTool(std::vector<std::string> args) {
    return RunInProcess(RunReport, "quorvelle-report", std::move(args));
}

// A usage error as every program prints it: one line "PROGRAM: WHAT (see --help)", and no
// usage text, which only --help prints.
inline bool IsUsageErrorLine(const std::string& err, const std::string& program) {
    return err.starts_with(program + ": ") && err.ends_with(" (see --help)\n") &&
           err.find('\n') == err.size() - 1;
}

// ---------------------------------------------------------------------------------------------
// Child processes (Linux: the Windows programs are run from the Linux build's tests, under Wine)

#ifndef _WIN32
class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // A child still running when the test ends is killed, so no test leaves one behind.
    ~ChildProcess() { Kill(); }

    // Starts `argv` with `environment` ("NAME=value") added to or replacing the test's own,
    // standard output and error into the given files. The child is killed if the test process
    // dies, so a crashed test leaves no server running.
    bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
               const std::string& outPath, const std::string& errPath, std::string& error) {
        std::vector<std::string> env = environment;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry = *e;
            const std::string name = entry.substr(0, entry.find('='));
            bool replaced = false;
            for (const std::string& mine : environment) {
                replaced = replaced || mine.compare(0, name.size() + 1, name + "=") == 0;
            }
            if (!replaced) env.push_back(entry);
        }
        std::vector<char*> args, envp;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (out < 0 || err < 0) {
            error = "cannot create " + outPath + " or " + errPath + ": " + std::strerror(errno);
            if (out >= 0) close(out);
            if (err >= 0) close(err);
            return false;
        }
        const pid_t parent = getpid();
        pid_t pid = fork();
        if (pid == 0) {
            // Only async-signal-safe calls between fork and exec.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent) _exit(127);
            dup2(out, STDOUT_FILENO);
            dup2(err, STDERR_FILENO);
            const int devNull = open("/dev/null", O_RDONLY);
            if (devNull >= 0) dup2(devNull, STDIN_FILENO);
            // Signals the test process blocks or ignores must not carry over.
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            signal(SIGINT, SIG_DFL);
            signal(SIGTERM, SIG_DFL);
            signal(SIGHUP, SIG_DFL);
            signal(SIGPIPE, SIG_DFL);
            execvpe(args[0], args.data(), envp.data());
            _exit(127);
        }
        close(out);
        close(err);
        if (pid < 0) {
            error = std::string("fork: ") + std::strerror(errno);
            return false;
        }
        pid_ = pid;
        return true;
    }

    bool Running() {
        if (pid_ <= 0) return false;
        int status = 0;
        const pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == 0) return true;
        Finished(status);
        return false;
    }

    // Waits up to `limit` for the child to end; its exit status, or -1 (and the child killed)
    // when it did not end in time or died of a signal.
    int Wait(std::chrono::milliseconds limit) {
        const auto giveUp = std::chrono::steady_clock::now() + limit;
        while (Running()) {
            if (std::chrono::steady_clock::now() > giveUp) {
                Kill();
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return exitStatus_;
    }

    // The running child's process id, -1 when there is none.
    pid_t Pid() const { return pid_; }

    void Signal(int signal) {
        if (pid_ > 0) kill(pid_, signal);
    }

    void Kill() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
        Finished(status);
    }

    // Ends the child politely (SIGTERM), forcefully after `grace`.
    void Stop(std::chrono::milliseconds grace) {
        if (!Running()) return;
        Signal(SIGTERM);
        if (Wait(grace) == -1) Kill();
    }

private:
    void Finished(int status) {
        exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        pid_ = -1;
    }

    pid_t pid_ = -1;
    int exitStatus_ = -1;
};

// Polls `condition` while `child` runs, until it holds: false when `limit` passes first, or
// when the child has ended without it holding.
inline bool WaitWhileRunning(ChildProcess& child, const std::function<bool()>& condition,
                             std::chrono::milliseconds limit) {
    const auto giveUp = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (!child.Running()) return condition();
        if (std::chrono::steady_clock::now() > giveUp) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// Runs `argv` `total` times, `concurrent` at a time, each in a folder of its own ("RUN" in a
// word stands for it; its output goes to RUN/out and RUN/err), in a storm of SIGTERM, SIGINT and
// SIGHUP: from the moment its handlers are in place (its SigCgt in /proc) until it has ended, a
// signal about every 300 us, so that they go on through its close-time work and its exit.
// Every run must end with status 0 and its output hold each of `once` exactly once.
inline void StormOfStopSignals(const std::vector<std::string>& argv,
                               const std::vector<std::string>& environment, int total,
                               int concurrent, const std::vector<std::string>& once) {
    TestFolder folder;
    const unsigned long long stops =
        (1ULL << (SIGINT - 1)) | (1ULL << (SIGTERM - 1)) | (1ULL << (SIGHUP - 1));
    for (int first = 0; first < total; first += concurrent) {
        const int n = std::min(concurrent, total - first);
        std::vector<ChildProcess> runs(n);
        std::vector<std::string> dirs;
        for (int k = 0; k < n; ++k) {
            dirs.push_back(folder.Path("run" + std::to_string(first + k)));
            std::filesystem::create_directory(dirs[k]);
            std::vector<std::string> words = argv;
            for (std::string& w : words) {
                if (w.find("RUN") != std::string::npos) w.replace(w.find("RUN"), 3, dirs[k]);
            }
            std::string error;
            ASSERT_TRUE(
                runs[k].Start(words, environment, dirs[k] + "/out", dirs[k] + "/err", error))
                << error;
        }
        std::vector<int> sent(n, 0);
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        for (bool running = true; running && std::chrono::steady_clock::now() < giveUp;) {
            running = false;
            for (int k = 0; k < n; ++k) {
                if (!runs[k].Running()) continue;
                running = true;
                std::ifstream status("/proc/" + std::to_string(runs[k].Pid()) + "/status");
                std::string line;
                while (std::getline(status, line) && line.rfind("SigCgt:", 0) != 0) {
                }
                if (sent[k] > 0 || (std::strtoull(line.c_str() + 7, nullptr, 16) & stops) == stops)
                    runs[k].Signal(std::vector<int>{SIGTERM, SIGINT, SIGHUP}[sent[k]++ % 3]);
            }
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
        for (int k = 0; k < n; ++k) {
            const std::string output = FileText(dirs[k] + "/out") + FileText(dirs[k] + "/err");
            EXPECT_EQ(runs[k].Wait(std::chrono::seconds(1)), 0)
                << dirs[k] << " after " << sent[k] << " signals:\n"
                << output;
            for (const std::string& text : once) {
                size_t count = 0;
                for (size_t at = output.find(text); at != std::string::npos;
                     at = output.find(text, at + 1)) {
                    ++count;
                }
                EXPECT_EQ(count, 1u) << text << " in " << dirs[k] << ":\n" << output;
            }
        }
    }
}

// Runs a program to its end as a child process, its standard output and error through the
// files `outPath` and `errPath`; killed after `limit`.
inline ToolRun RunProgram(const std::vector<std::string>& argv,
                          const std::vector<std::string>& environment, const std::string& outPath,
                          const std::string& errPath, std::chrono::milliseconds limit) {
    ChildProcess child;
    ToolRun r;
    std::string error;
    if (!child.Start(argv, environment, outPath, errPath, error)) {
        r.Err = error;
        return r;
    }
    r.Status = child.Wait(limit);
    r.Out = FileText(outPath);
    r.Err = FileText(errPath);
    return r;
}

#endif  // _WIN32

}  // namespace qv
