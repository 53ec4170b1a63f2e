// Starting Windows' recording devices (the Sound control panel on its Recording tab).
#include <windows.h>

#include "app/recording_mixer.h"
#include "app/wide_text_win32.h"

namespace qv {

namespace {

// A program's argument quoted for its command line as the C runtime splits it again: in double
// quotes, with the backslashes before a quote doubled and the quote itself escaped.
std::wstring Quoted(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) {
        return argument;
    }
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, L'\\');
    return quoted + L"\"";
}
}  // namespace

// The search path does not matter: the control panel is part of every Windows.
std::vector<std::string> RecordingMixerCommand(const std::string&) {
    return {"control", "mmsys.cpl,,1"};
}

bool StartDetached(const std::vector<std::string>& argv, std::string& error) {
    if (argv.empty()) {
        error = "no recording mixer to start";
        return false;
    }
    std::wstring commandLine;
    for (const std::string& a : argv) {
        if (!commandLine.empty()) commandLine += L' ';
        commandLine += Quoted(Wide(a));
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // Its own process group, so a Ctrl-C in our console does not reach it; no console of ours,
    // no inherited handles; not waited for.
    const DWORD flags = CREATE_NEW_PROCESS_GROUP | DETACHED_PROCESS;
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, flags, nullptr,
                        nullptr, &startup, &process)) {
        const DWORD code = GetLastError();
        wchar_t* text = nullptr;
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                           FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
        std::string reason = "error " + std::to_string(code);
        if (text != nullptr) {
            std::wstring wide(text);
            LocalFree(text);
            while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r')) wide.pop_back();
            reason = Narrow(wide);
        }
        error = argv[0] + ": cannot start: " + reason;
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);  // the process runs on; Windows reaps it
    return true;
}

}  // namespace qv
