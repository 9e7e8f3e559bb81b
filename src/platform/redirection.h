// The file-system and registry view of a platform text ("Win32", "x64", "ia64"). The engine behaves as a
// 32-bit program on 64-bit Windows: with "Win32" it sees the 32-bit system folder and the 32-bit registry
// view; any other platform text sees the native ones.
//
// A 32-bit build gets that from WOW64 itself and only switches redirection off for a native platform. A
// 64-bit build has no redirection to switch, so for "Win32" it maps the paths WOW64 would redirect
// (the system folder, except the folders WOW64 leaves shared) to the 32-bit system folder, and the
// 32-bit program's alias of the native system folder ("Sysnative") to the system folder.
#pragma once
#include <string>
#include <string_view>

#include "platform/registry.h"

namespace orv {

// True for a platform text other than "Win32" (compared without regard to case).
bool isNativePlatform(std::string_view platform);
RegistryView registryViewOf(std::string_view platform);

// One scope of file work under a platform's view; restores the thread's redirection state on exit.
// Guards nest: each gives back the state it found.
class FileSystemView {
 public:
  explicit FileSystemView(std::string_view platform);
  ~FileSystemView();
  FileSystemView(const FileSystemView&) = delete;
  FileSystemView& operator=(const FileSystemView&) = delete;

  // The path the file system must be given for what a program of this platform means by `path`.
  std::string map(std::string_view path) const;
  bool native() const { return native_; }

 private:
  bool native_;
  void* previous_ = nullptr;  // the WOW64 state saved by a 32-bit build
  bool disabled_ = false;
};

// The mapping alone (as FileSystemView::map), for code that does not hold a guard.
std::string mapPathForPlatform(std::string_view path, bool native);

}  // namespace orv
