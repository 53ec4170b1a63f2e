// Starting the desktop's recording mixer.
#include "app/recording_mixer.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sstream>
#include <thread>

extern char** environ;  // the process environment (POSIX), for posix_spawn

namespace qv {

namespace {

bool OnPath(const std::string& searchPath, const std::string& program) {
    std::stringstream dirs(searchPath);
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (dir.empty()) dir = ".";
        if (access((dir + "/" + program).c_str(), X_OK) == 0) return true;
    }
    return false;
}

}  // namespace

std::vector<std::string> RecordingMixerCommand(const std::string& searchPath) {
    if (OnPath(searchPath, "pavucontrol")) return {"pavucontrol", "--tab=4"};
    if (!OnPath(searchPath, "alsamixer")) return {};
    for (const char* terminal : {"x-terminal-emulator", "xterm"}) {
        if (OnPath(searchPath, terminal)) return {terminal, "-e", "alsamixer", "-V", "capture"};
    }
    return {};
}

bool StartDetached(const std::vector<std::string>& argv, std::string& error) {
    if (argv.empty()) {
        error = "no recording mixer found (install pavucontrol, or alsamixer and a terminal)";
        return false;
    }
    posix_spawn_file_actions_t files;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_init(&attributes);
    // Its own session, so a Ctrl-C in our terminal does not reach it; default signal handling.
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);

    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    const int result = posix_spawnp(&pid, args[0], &files, &attributes, args.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attributes);
    if (result != 0) {
        error = argv[0] + ": cannot start: " + std::strerror(result);
        return false;
    }
    // Not waited for by the caller; a thread of its own collects its exit status.
    std::thread([pid] {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return true;
}

}  // namespace qv
