// Text between the program's narrow strings and Windows' wide ones.
#pragma once

#include <windows.h>

#include <string>

namespace qv {

// The program's texts are UTF-8; paths are in the ANSI code page, as the C runtime's narrow
// file functions read them (a UTF-8 manifest makes the two one).
std::wstring Wide(const std::string& text, UINT codePage = CP_UTF8);
std::string Narrow(const std::wstring& text, UINT codePage = CP_UTF8);

}  // namespace qv
