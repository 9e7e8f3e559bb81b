#include "media/media_files.h"

#include <windows.h>

#include "bootstrap/engine.h"
#include "core/archive/entry_path.h"
#include "core/text.h"
#include "platform/files.h"
#include "platform/strings.h"

namespace orv {
namespace {

void listInto(const std::string& folder, const std::string& relative, std::vector<std::string>& out) {
  for (const FolderEntry& entry : folderEntries(folder + relative + "*")) {
    if (!entry.isFolder()) out.push_back(relative + entry.name);
    // A junction inside an archive's tree is not followed: it could lead anywhere.
    else if (!entry.isLink()) listInto(folder, relative + entry.name + "\\", out);
  }
}

void removeEmptyFolders(const std::string& folder) {
  for (const FolderEntry& entry : folderEntries(folder + "*"))
    if (entry.isFolder()) removeEmptyFolders(folder + entry.name + "\\");
  RemoveDirectoryW(widen(folder).c_str());
}

}  // namespace

std::vector<std::string> filesBelow(const std::string& folder) {
  std::vector<std::string> files;
  listInto(withTrailingBackslash(folder), "", files);
  return files;
}

bool removeFile(const std::string& path) {
  const std::wstring w = widen(path);
  if (GetFileAttributesW(w.c_str()) == INVALID_FILE_ATTRIBUTES) return true;
  SetFileAttributesW(w.c_str(), FILE_ATTRIBUTE_NORMAL);
  return DeleteFileW(w.c_str()) != 0;
}

bool moveTree(const std::string& from, const std::string& to) {
  const std::string source = withTrailingBackslash(from), target = withTrailingBackslash(to);
  // Into a missing or empty folder of the same volume the tree moves by one rename.
  std::string bareTarget = target, bareSource = source;
  bareTarget.pop_back();
  bareSource.pop_back();
  if (!folderExists(target) || RemoveDirectoryW(widen(bareTarget).c_str())) {
    if (createFolders(folderOf(bareTarget)) && MoveFileExW(widen(bareSource).c_str(), widen(bareTarget).c_str(), 0))
      return true;
  }
  for (const std::string& relative : filesBelow(source)) {
    const std::string destination = target + relative;
    if (!createFolders(folderOf(destination)) || !removeFile(destination)) return false;
    if (!MoveFileExW(widen(source + relative).c_str(), widen(destination).c_str(), MOVEFILE_COPY_ALLOWED)) return false;
  }
  removeEmptyFolders(source);
  return true;
}

std::optional<std::string> safeMediaPath(std::string_view relative) {
  std::string_view trimmed = relative;
  while (!trimmed.empty() && (trimmed.back() == '\\' || trimmed.back() == '/')) trimmed.remove_suffix(1);
  // Parent references are refused outright, even when they would stay inside: the tables never need them.
  for (const std::string& part : split(archive::withBackslashes(trimmed), "\\"))
    if (part == "..") return std::nullopt;
  return archive::safeRelativePath(trimmed);
}

bool isPlainName(std::string_view name) {
  const std::optional<std::string> safe = safeMediaPath(name);
  return safe && safe->find('\\') == std::string::npos && *safe == name;
}

void wakeUiThread(Engine& engine) {
  const int64_t value = toInt64Or(engine.vars.getValue("WINDOWHANDLE"), 0);
  const HWND window = reinterpret_cast<HWND>(static_cast<intptr_t>(value));
  if (value != 0 && IsWindow(window)) PostMessageW(window, WM_NULL, 0, 0);
}

}  // namespace orv
