#include "native_fixture.h"

#include <atomic>
#include <cstring>

#include "core/text.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/strings.h"
#include "platform/system.h"
#include "script/command.h"
#include "script/commands.h"

namespace orv::test {
namespace {

std::string uniqueName() {
  static std::atomic<int> counter{0};
  return std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount64()) + "-" +
         std::to_string(counter.fetch_add(1));
}

std::string hex(std::string_view bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

void snapshotInto(TreeSnapshot& snap, const std::string& folder, const std::string& relative) {
  for (const FolderEntry& entry : folderEntries(folder + relative + "*")) {
    const std::string path = relative + entry.name;
    if (entry.isFolder()) {
      snap[path + "\\"] = "D";
      snapshotInto(snap, folder, path + "\\");
    } else {
      std::string content;
      readWholeFile(folder + path, content);
      snap[path] = std::to_string(entry.attributes & 7) + ":" + content;
    }
  }
}

void snapshotKeyInto(KeySnapshot& snap, HKEY root, const std::string& key, RegistryView view) {
  const auto k = RegistryKey::open(root, key, KEY_READ, view);
  if (!k) return;
  snap[key + "\\"] = "";
  for (const std::string& name : k->valueNames()) {
    const std::optional<RegistryValue> v = k->readValue(name);
    if (v) snap[key + "\\" + name] = std::to_string(v->type) + ":" + hex(v->bytes);
  }
  for (const std::string& sub : k->subkeyNames()) snapshotKeyInto(snap, root, key + "\\" + sub, view);
}

constexpr std::string_view kSessionManager = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr std::string_view kPendingRenames = "PendingFileRenameOperations";

// The strings of PendingFileRenameOperations, empty ones (deletions) included.
std::vector<std::wstring> pendingRenameStrings() {
  std::vector<std::wstring> strings;
  const auto key = RegistryKey::open(HKEY_LOCAL_MACHINE, std::string(kSessionManager), KEY_READ, RegistryView::Bits64);
  if (!key) return strings;
  const std::optional<RegistryValue> v = key->readValue(std::string(kPendingRenames));
  if (!v) return strings;
  std::wstring block(v->bytes.size() / 2, L'\0');
  memcpy(block.data(), v->bytes.data(), block.size() * 2);
  if (block.size() >= 2 && block.back() == L'\0' && block[block.size() - 2] == L'\0') block.pop_back();
  size_t start = 0;
  while (start < block.size()) {
    size_t end = block.find(L'\0', start);
    if (end == std::wstring::npos) end = block.size();
    strings.push_back(block.substr(start, end - start));
    start = end + 1;
  }
  return strings;
}

}  // namespace

Answer ScriptedQuestions::ask(QuestionKind kind, const std::string&, const std::string& text) {
  asked.emplace_back(kind, text);
  if (answers.empty()) return Answer::No;
  const Answer a = answers.front();
  answers.pop_front();
  return a;
}

std::string ScriptedQuestions::locateSources(const std::string&) {
  ++sourcePrompts;
  if (sourceFolders.empty()) return {};
  std::string f = sourceFolders.front();
  sourceFolders.pop_front();
  return f;
}

void NativeFixture::SetUp() {
  const std::string unique = uniqueName();
  root = tempFolder() + "orv-native-" + unique + "\\";
  data = root + "data\\";
  target = root + "target\\";
  cache = root + "cache\\";
  key = "Software\\OrvaneTest\\" + unique;
  ASSERT_TRUE(createFolders(data));
  tracePath = root + "trace.log";
  trace.setPath(tracePath);
  engine.trace = &trace;
  engine.interpreter = std::make_shared<InterpreterState>();
  engine.startup.programBaseName = "setup";
  for (auto [name, value] : std::initializer_list<std::pair<const char*, std::string>>{
           {"SILENT", "TRUE"}, {"ABORTONERROR", "TRUE"}, {"ABORTEDONERROR", "FALSE"}, {"NATIVE_ENGINE", "TRUE"},
           {"NATIVE_LOGGING", ""}, {"NATIVE_ROLLBACK", "TRUE"}, {"NATIVE_ERROR", "PROMPT"},
           {"NATIVE_OVERWRITE", "PROMPT"}, {"NATIVE_OVERWRITE_OLDER", "FALSE"}, {"NATIVE_PROGRESS", "0"},
           {"DELAYUNTIL_APPLYCHANGES", "FALSE"}, {"NATIVE_OVERRIDE_PERMISSIONS", "FALSE"}, {"ALLUSERS", "FALSE"},
           {"MAINTENANCE", "FALSE"}, {"PRODUCTCODE", "{6F1C2A10-0000-4000-8000-0000000000A1}"},
           {"REVISIONCODE", "{6F1C2A10-0000-4000-8000-0000000000A2}"}, {"OVERRIDECACHE", cache}, {"DATADIR", data},
           {"ZORN_IsCancelled", "FALSE"}, {"ZORN_LastDelegateTick", "0"}, {"ZORN_LastActiveTick", "0"},
           {"WINDOWHANDLE", "0"}, {"TARGET", target}, {"KEY", key}, {"ROOT", root}})
    engine.vars.setValue(name, value);
  nativeState(engine).questions = questions;
}

void NativeFixture::adopt(const std::string& otherRoot, const std::string& otherKey) {
  deleteTree(root);
  root = otherRoot;
  data = root + "data\\";
  target = root + "target\\";
  cache = root + "cache\\";
  key = otherKey;
  tracePath = root + "trace-" + uniqueName() + ".log";
  trace.setPath(tracePath);
  for (auto [name, value] : std::initializer_list<std::pair<const char*, std::string>>{
           {"OVERRIDECACHE", cache}, {"DATADIR", data}, {"TARGET", target}, {"KEY", key}, {"ROOT", root}})
    engine.vars.setValue(name, value);
}

void NativeFixture::TearDown() {
  for (RegistryView view : {RegistryView::Bits32, RegistryView::Bits64}) {
    RegistryKey::deleteTree(HKEY_CURRENT_USER, key, view);
    // Shared-file counts the tests made name files under the test's folder.
    for (HKEY hive : {HKEY_LOCAL_MACHINE}) {
      LONG error = 0;
      if (auto k = RegistryKey::tryOpen(hive, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls",
                                        KEY_READ | KEY_WRITE, view, error))
        for (const std::string& name : k->valueNames())
          if (startsWithNoCase(name, root)) k->removeValue(name);
    }
  }
  clearPendingRenames(root);
  deleteTree(root);
}

void NativeFixture::load(const Lines& lines, const std::map<size_t, std::vector<GroupFile>>& groups) {
  SetupImage image = scriptLines(lines);
  for (const auto& [line, files] : groups) {
    char header[16];
    snprintf(header, sizeof header, "%08X", static_cast<unsigned>(0xA0000000u + line));
    image.commandHeaders.push_back(header);
    image.commandHeaders.push_back(std::to_string(line));
    image.headerFiles.push_back(header);
    image.headerFiles.push_back("NEWHEADER");
    for (const GroupFile& f : files) {
      image.headerFiles.push_back(f.source);
      image.headerFiles.push_back(f.second);
    }
  }
  engine.loadImage(std::move(image));
}

void NativeFixture::runLine(size_t line) {
  CommandContext context(engine, line);
  const CommandHandler handler = findCommand(context.command());
  ASSERT_NE(handler, nullptr) << context.command();
  handler(context);
}

void NativeFixture::runAll() {
  for (size_t line = 1; line <= engine.image.lineCount() && !runEnded(); ++line) runLine(line);
}

std::vector<std::string> NativeFixture::logLines(size_t which) {
  std::string bytes;
  std::vector<std::string> lines;
  if (!readWholeFile(undoLogFile(logBase(), which), bytes)) return lines;
  for (const std::string& line : split(bytes, "\r\n")) lines.push_back(decodeLogLine(line));
  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  return lines;
}

std::vector<UndoRecord> NativeFixture::records() {
  std::vector<UndoRecord> all = readUndoLog(logBase(), "Win32").records;
  all.insert(all.end(), state().pending.begin(), state().pending.end());
  return all;
}

void NativeFixture::forgetRecords() { setRecords({}); }

void NativeFixture::setRecords(std::vector<UndoRecord> kept) {
  state().journal.reset();
  deleteUndoLogFiles(logBase());
  state().pending = std::move(kept);
}

std::vector<std::string> NativeFixture::traceLines() const {
  std::string bytes;
  std::vector<std::string> lines;
  if (!readWholeFile(tracePath, bytes)) return lines;
  std::wstring w(bytes.size() / 2, L'\0');
  memcpy(w.data(), bytes.data(), w.size() * 2);
  for (const std::string& line : split(narrow(w), "\r\n")) lines.push_back(line);
  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  return lines;
}

void NativeFixture::writeData(const std::string& relative, const std::string& content) {
  const std::string path = relative.size() > 1 && relative[1] == ':' ? relative : data + relative;
  createFolders(folderOf(path));
  ASSERT_TRUE(writeWholeFile(path, content)) << path;
}

std::string NativeFixture::read(const std::string& path) const {
  std::string content;
  return readWholeFile(path, content) ? content : std::string("<missing>");
}

TreeSnapshot snapshotTree(const std::string& folder) {
  TreeSnapshot snap;
  snapshotInto(snap, withTrailingBackslash(folder), "");
  return snap;
}

KeySnapshot snapshotKey(HKEY root, const std::string& key, RegistryView view) {
  KeySnapshot snap;
  snapshotKeyInto(snap, root, key, view);
  return snap;
}

std::string selfRegLibrary() {
  std::string path = "Z:" + replaceAll(ORV_NATIVE_SELFREG, "/", "\\", false);
  return path;
}

std::string serviceProgram() { return "Z:" + replaceAll(ORV_NATIVE_SERVICE, "/", "\\", false); }

void writeVersionedLibrary(const std::string& path, uint16_t major, uint16_t minor, uint16_t release, uint16_t build) {
  createFolders(folderOf(path));
  ASSERT_TRUE(copyFileOver(selfRegLibrary(), path)) << path;
  // VS_VERSIONINFO with its fixed part only: header, key, padding to 32 bits, VS_FIXEDFILEINFO.
  std::string block(92, '\0');
  auto put16 = [&](size_t at, uint16_t v) { memcpy(&block[at], &v, 2); };
  put16(0, 92);
  put16(2, sizeof(VS_FIXEDFILEINFO));
  const std::wstring key = L"VS_VERSION_INFO";
  memcpy(&block[6], key.c_str(), (key.size() + 1) * 2);
  VS_FIXEDFILEINFO fixed{};
  fixed.dwSignature = 0xFEEF04BD;
  fixed.dwStrucVersion = 0x00010000;
  fixed.dwFileVersionMS = fixed.dwProductVersionMS = MAKELONG(minor, major);
  fixed.dwFileVersionLS = fixed.dwProductVersionLS = MAKELONG(build, release);
  fixed.dwFileFlagsMask = 0x3F;
  fixed.dwFileOS = VOS_NT_WINDOWS32;
  fixed.dwFileType = VFT_DLL;
  memcpy(&block[40], &fixed, sizeof(fixed));
  HANDLE update = BeginUpdateResourceW(widen(path).c_str(), FALSE);
  ASSERT_NE(update, nullptr);
  ASSERT_TRUE(UpdateResourceW(update, RT_VERSION, MAKEINTRESOURCEW(1), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                              block.data(), static_cast<DWORD>(block.size())));
  ASSERT_TRUE(EndUpdateResourceW(update, FALSE));
}

void setWriteTime(const std::string& path, int64_t secondsFromNow) {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER t;
  t.LowPart = now.dwLowDateTime;
  t.HighPart = now.dwHighDateTime;
  t.QuadPart += static_cast<uint64_t>(secondsFromNow * 10000000);
  FILETIME when{t.LowPart, t.HighPart};
  UniqueHandle f = ownFileHandle(CreateFileW(widen(path).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                             nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(f && SetFileTime(f.get(), nullptr, nullptr, &when)) << path;
}

BOOL chunkedCopy(const std::wstring& from, const std::wstring& to, bool move, LPPROGRESS_ROUTINE progress, void* data) {
  UniqueHandle in = ownFileHandle(CreateFileW(from.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!in) return FALSE;
  LARGE_INTEGER total{}, done{}, zero{};
  GetFileSizeEx(in.get(), &total);
  {
    UniqueHandle out = ownFileHandle(CreateFileW(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!out) return FALSE;
    std::vector<char> chunk(1u << 20);
    for (;;) {
      DWORD got = 0, put = 0;
      if (!ReadFile(in.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr)) return FALSE;
      if (got == 0) break;
      if (!WriteFile(out.get(), chunk.data(), got, &put, nullptr) || put != got) return FALSE;
      done.QuadPart += got;
      if (progress &&
          progress(total, done, zero, zero, 1, CALLBACK_CHUNK_FINISHED, in.get(), out.get(), data) == PROGRESS_CANCEL) {
        SetLastError(ERROR_REQUEST_ABORTED);
        return FALSE;
      }
    }
  }
  in.reset();
  return move ? DeleteFileW(from.c_str()) : TRUE;
}

std::vector<std::string> pendingRenames() {
  std::vector<std::string> out;
  for (const std::wstring& s : pendingRenameStrings()) out.push_back(narrow(s));
  return out;
}

void clearPendingRenames(const std::string& folder) {
  const std::vector<std::wstring> strings = pendingRenameStrings();
  std::wstring kept;
  bool removed = false;
  for (size_t i = 0; i + 1 < strings.size(); i += 2) {
    if (findNoCase(narrow(strings[i]), folder) != std::string::npos ||
        findNoCase(narrow(strings[i + 1]), folder) != std::string::npos) {
      removed = true;
      continue;
    }
    kept += strings[i] + L'\0' + strings[i + 1] + L'\0';
  }
  if (!removed) return;
  LONG error = 0;
  auto key = RegistryKey::tryOpen(HKEY_LOCAL_MACHINE, std::string(kSessionManager), KEY_READ | KEY_WRITE,
                                  RegistryView::Bits64, error);
  if (!key) return;
  if (kept.empty()) {
    key->removeValue(std::string(kPendingRenames));
    return;
  }
  kept += L'\0';
  key->writeValue(std::string(kPendingRenames), REG_MULTI_SZ,
                  std::string_view(reinterpret_cast<const char*>(kept.data()), kept.size() * 2));
}

}  // namespace orv::test
