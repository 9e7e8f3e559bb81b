// Facts about files that the installation engine compares and reports: version resources, dates, the
// machine a program image is built for, and the system's text for an error code.
#pragma once
#include <windows.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace orv {

struct FileVersion {
  std::array<uint16_t, 4> parts{};  // major, minor, release, build
  auto operator<=>(const FileVersion&) const = default;
  std::string text() const;  // "1.2.3.4"
};

// The fixed file version of the file's version resource; null without one (version.dll is loaded from
// the system folder on first use).
std::optional<FileVersion> fileVersion(const std::string& path);
// Last-write time; null when it cannot be read.
std::optional<FILETIME> fileWriteTime(const std::string& path);
// The time in the system locale's short date and time form (local time).
std::string formatFileTime(const FILETIME& time);

enum class ImageMachine { Unknown, X86, X64, Other };
// The machine of a program image (from its PE header); Unknown for anything that is not one.
ImageMachine imageMachine(const std::string& path);

// The system's message for an error code, without the trailing line break ("Error N" when it has none).
std::string systemErrorText(DWORD code);

}  // namespace orv
