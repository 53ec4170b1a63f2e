// Test helper of the Windows tier, run under Wine: starts a program as Explorer does, with no
// console and no standard handles of its parent (DETACHED_PROCESS), waits for it and ends with
// its exit status. Started from a console, the program finds that console only as its parent's.
// Usage: quorvelle_detached_start PROGRAM [ARGUMENTS...] (the rest of the command line as is).
#include <windows.h>

#include <cstdio>
#include <string>

int main() {
    // The command line less this program's own name, quoted or not, and the blanks after it.
    const wchar_t* rest = GetCommandLineW();
    if (*rest == L'"') {
        for (++rest; *rest != L'\0' && *rest != L'"'; ++rest) {
        }
        if (*rest == L'"') ++rest;
    } else {
        while (*rest != L'\0' && *rest != L' ' && *rest != L'\t') ++rest;
    }
    while (*rest == L' ' || *rest == L'\t') ++rest;
    if (*rest == L'\0') {
        std::fprintf(stderr, "usage: quorvelle_detached_start PROGRAM [ARGUMENTS...]\n");
        return 2;
    }
    std::wstring line = rest;
    STARTUPINFOW start{};
    start.cb = sizeof start;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                        nullptr, &start, &process)) {
        std::fprintf(stderr, "quorvelle_detached_start: cannot start the program: error %lu\n",
                     GetLastError());
        return 127;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 1;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(status);
}
