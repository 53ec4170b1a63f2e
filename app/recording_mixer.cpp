// Starting the desktop's recording mixer.
#include "app/recording_mixer.h"

#include <sstream>

#include "common/os.h"

namespace qv {

#ifdef _WIN32

// Windows' recording devices: the Sound control panel on its Recording tab. The search path
// does not matter: the control panel is part of every Windows.
std::vector<std::string> RecordingMixerCommand(const std::string&) {
    return {"control", "mmsys.cpl,,1"};
}
constexpr const char* kNoMixer = "no recording mixer to start";

#else

namespace {

bool OnPath(const std::string& searchPath, const std::string& program) {
    std::stringstream dirs(searchPath);
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (dir.empty()) dir = ".";
        if (os::IsProgram(dir + "/" + program)) return true;
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
constexpr const char* kNoMixer =
    "no recording mixer found (install pavucontrol, or alsamixer and a terminal)";

#endif

bool StartDetached(const std::vector<std::string>& argv, std::string& error) {
    if (argv.empty()) {
        error = kNoMixer;
        return false;
    }
    return os::StartDetached(argv, error);
}

}  // namespace qv
