#include "platform/file_info.h"

#include <vector>

#include "platform/handles.h"
#include "platform/libraries.h"
#include "platform/strings.h"

namespace orv {
namespace {

using GetSizeFn = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
using GetInfoFn = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
using QueryFn = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);

struct VersionFunctions {
  GetSizeFn size = systemFunction<GetSizeFn>(L"version.dll", "GetFileVersionInfoSizeW");
  GetInfoFn info = systemFunction<GetInfoFn>(L"version.dll", "GetFileVersionInfoW");
  QueryFn query = systemFunction<QueryFn>(L"version.dll", "VerQueryValueW");
  bool ok() const { return size && info && query; }
};

const VersionFunctions& versionFunctions() {
  static const VersionFunctions functions;
  return functions;
}

}  // namespace

std::string FileVersion::text() const {
  return std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." + std::to_string(parts[2]) + "." +
         std::to_string(parts[3]);
}

std::optional<FileVersion> fileVersion(const std::string& path) {
  const VersionFunctions& v = versionFunctions();
  if (!v.ok()) return std::nullopt;
  const std::wstring w = widen(path);
  DWORD handle = 0;
  const DWORD size = v.size(w.c_str(), &handle);
  if (size == 0) return std::nullopt;
  std::vector<char> block(size);
  if (!v.info(w.c_str(), 0, size, block.data())) return std::nullopt;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!v.query(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || !fixed || length < sizeof(*fixed))
    return std::nullopt;
  FileVersion version;
  version.parts = {HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
                   LOWORD(fixed->dwFileVersionLS)};
  return version;
}

std::optional<FILETIME> fileWriteTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(widen(path).c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  return data.ftLastWriteTime;
}

std::string formatFileTime(const FILETIME& time) {
  FILETIME local;
  SYSTEMTIME st;
  if (!FileTimeToLocalFileTime(&time, &local) || !FileTimeToSystemTime(&local, &st)) return {};
  wchar_t date[128] = {}, clock[128] = {};
  GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, date, 128);
  GetTimeFormatW(LOCALE_USER_DEFAULT, TIME_NOSECONDS, &st, nullptr, clock, 128);
  return narrow(date) + " " + narrow(clock);
}

ImageMachine imageMachine(const std::string& path) {
  UniqueHandle file = ownFileHandle(CreateFileW(widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return ImageMachine::Unknown;
  IMAGE_DOS_HEADER dos{};
  DWORD got = 0;
  if (!ReadFile(file.get(), &dos, sizeof(dos), &got, nullptr) || got != sizeof(dos) || dos.e_magic != IMAGE_DOS_SIGNATURE)
    return ImageMachine::Unknown;
  struct {
    DWORD signature;
    IMAGE_FILE_HEADER header;
  } nt{};
  LARGE_INTEGER at;
  at.QuadPart = dos.e_lfanew;
  if (dos.e_lfanew < 0 || !SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) ||
      !ReadFile(file.get(), &nt, sizeof(nt), &got, nullptr) || got != sizeof(nt) || nt.signature != IMAGE_NT_SIGNATURE)
    return ImageMachine::Unknown;
  switch (nt.header.Machine) {
    case IMAGE_FILE_MACHINE_I386: return ImageMachine::X86;
    case IMAGE_FILE_MACHINE_AMD64: return ImageMachine::X64;
    default: return ImageMachine::Other;
  }
}

std::string systemErrorText(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text(buffer ? std::wstring_view(buffer, n) : std::wstring_view());
  if (buffer) LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) text.pop_back();
  return text.empty() ? "Error " + std::to_string(code) : narrow(text);
}

}  // namespace orv
