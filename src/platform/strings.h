// The one place where text changes form at the Win32 boundary: UTF-8 inside, UTF-16 at every call, and
// ANSI code pages only where a file format or the archive library's narrow interface demands them.
#pragma once
#include <string>
#include <string_view>

namespace orv {

std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view wide);
// To and from a Windows code page (CP_ACP = 0).
std::string toCodePage(std::string_view utf8, unsigned codePage);
std::string fromCodePage(std::string_view bytes, unsigned codePage);

// Makes the system's converter the one the core uses for image texts.
void installSystemCodePages();

}  // namespace orv
