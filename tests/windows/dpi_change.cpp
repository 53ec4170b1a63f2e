// Test helper of the Windows tier, run under Wine, which moves no window between screens of
// different scaling: tells the window titled "GPS QuorVelle" that it now is on a screen of DPI
// dots per inch, as Windows does when it is dragged there, with the rectangle Windows would
// suggest (its own, scaled by the change). Usage: quorvelle_dpi_change OLD-DPI NEW-DPI
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    const int from = argc == 3 ? std::atoi(argv[1]) : 0, to = argc == 3 ? std::atoi(argv[2]) : 0;
    if (from <= 0 || to <= 0) {
        std::fprintf(stderr, "usage: quorvelle_dpi_change OLD-DPI NEW-DPI\n");
        return 2;
    }
    HWND window = FindWindowW(L"#32770", L"GPS QuorVelle");
    if (window == nullptr) {
        std::fprintf(stderr, "quorvelle_dpi_change: no window titled \"GPS QuorVelle\"\n");
        return 1;
    }
    RECT r{};
    GetWindowRect(window, &r);
    RECT suggested{r.left, r.top, r.left + MulDiv(r.right - r.left, to, from),
                   r.top + MulDiv(r.bottom - r.top, to, from)};
    SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(to, to), reinterpret_cast<LPARAM>(&suggested));
    return 0;
}
