// "Input" in the Setup menu: the desktop's recording mixer, where the sound card's recording
// source and level are set. On Linux pavucontrol on its input tab when installed, else
// alsamixer's capture view in a terminal; on Windows the Sound control panel's Recording tab.
#pragma once

#include <string>
#include <vector>

namespace qv {

// The mixer's command line for a PATH, or nothing when no mixer is installed.
std::vector<std::string> RecordingMixerCommand(const std::string& searchPath);

// Starts `argv` in a session of its own with its input and output on /dev/null, does not wait
// for it, and reaps it when it ends so it never lingers as a zombie. False with the reason.
bool StartDetached(const std::vector<std::string>& argv, std::string& error);

}  // namespace qv
