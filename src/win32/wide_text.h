// UTF-8, the text of the engine and the purge, to and from UTF-16, the text
// of the Windows calls.
#pragma once

#include <string>
#include <string_view>

namespace win32 {

std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view utf16);

}  // namespace win32
