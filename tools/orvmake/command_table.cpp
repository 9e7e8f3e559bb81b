#include "orvmake/command_table.h"

#include <algorithm>
#include <unordered_map>

#include "core/text.h"

namespace orv::make {
namespace {

// Optional tails are flags and result variables whose empty text the engine reads as "FALSE" or "none";
// a value the command cannot do without stays required. "unread" marks a position the engine carries but
// never reads.
constexpr CommandEntry kCommands[] = {
    // Control flow and conditions.
    {"If", "variable; comparison; value?; negate?"},
    {"Else If", "variable; comparison; value?; negate?"},
    {"Else", ""},
    {"End", ""},
    {"While", "variable; comparison; value?; negate?"},
    {"Wend", ""},
    {"Repeat", ""},
    {"Until", "variable; comparison; value?; negate?"},
    {"For Each", "variable; separator; list?"},
    {"Next", ""},
    {"Break", ""},
    {"Continue", ""},
    {"Label", "name"},
    {"GoTo Label", "label"},
    {"Wizard Loop", ""},
    {"Comment", "text...?"},
    {"Ignore", "text...?"},
    {"Code Folding Region", "text...?"},
    {"Terminate Install", ""},
    {"Terminate with Exit Code", "exit-code"},

    // Text and variables.
    {"Set Variable", "variable; value?"},
    {"Localization Variable", "variable; value?"},
    {"Get Environment", "name; result"},
    {"Set Environment", "name; value; existing-mode; placement; remove-at-uninstall?; system-wide?"},
    {"Get Temporary File", "result"},
    {"Replace String", "variable; find; replacement?; ignore-case?; all?"},
    {"Convert Case", "variable; upper?"},
    {"Convert Path", "variable; short?"},
    {"Extract Path", "variable; part"},
    {"Parse String", "source; delimiter; first-part; second-part; method; trim?; ignore-case?"},
    {"Evaluate Expression", "expression; result"},
    {"Mathematics", "a; b; operation; result?"},

    // Wizard pages, message boxes and the tray.
    {"Display Dialog", "dialog; result?; modal?; condition?; carried?; skip-value?"},
    {"Hide Dialog", ""},
    {"MessageBox", "caption; text; icon; buttons; result?"},
    {"MessageBalloon", "title; text; icon; timeout?"},
    {"System Tray", "minimize?; show?; restore?; remove?"},

    // Installation actions and their engines.
    {"Install Files",
     "source; mask; target; read-only?; hidden?; system?; stop-on-skip?; unread?; self-register?; shared?; permanent?; "
     "only-if-absent?"},
    {"Install Assembly", "source; global-cache; target"},
    {"Install Service",
     "source; folder; unread; name; display-name; description; service-type; interactive; load-order-group; "
     "dependencies; start-type; error-control; account?; password?; arguments?"},
    {"Install ODBC Driver", "driver; unread; unread; target; unread; attributes?"},
    {"Create ODBC DSN", "name; driver; system; attributes?"},
    {"Define Component", "name; selected; description?"},
    {"Get Component State", "name; result"},
    {"Set Component State", "name; state"},
    {"Get Component Space", "name; result"},
    {"Set Component Space", "name; size"},
    {"Set Component Choice", "name; state"},
    {"Set Component Visibility", "name; state"},
    {"Delete Component", "name"},
    {"Save Feature Selections", "file"},
    {"Load Feature Selections", "file"},
    {"Apply Changes", "progress-dialog; result?; install?; remove?"},
    {"Apply Patch", "result?"},
    {"Set 64 Bit Mode", "win32?; ia64?; x64?"},
    {"Transform Instance", ""},

    // Media.
    {"Web Media Block", "name; urls; carried?"},
    {"Extract 7Zip Archive", "archive; target; result?; password?; answer-all?; keep-paths?"},
    {"Run Light Mode Setup", "file; result?; parameters?; wait?"},

    // Files, folders, INI, XML and text files.
    {"Does File/Folder Exist", "result; path; file?"},
    {"Check Disk Space", "result; path; available?"},
    {"Delete Files Recursive", "path"},
    {"Find All Files", "path; recurse; folders; result"},
    {"Get File Version", "file; result"},
    {"Check File Version", "result; file; with-file; other-file?; version?"},
    {"Get INI File Settings", "result; file; section; key"},
    {"Get XML File Settings", "result; file; element; attribute?"},
    {"Evaluate XPath Query", "file; query; result; kind"},
    {"Edit XML File",
     "file; encoding; format; element; text; attributes; operation; all-matches?; preserve-space?; backup?"},
    {"Read from Text File", "file; result; end-flag?"},
    {"Write to Text File", "file; text; first-line?"},
    {"Create Folder", "folder"},
    {"Delete Files", "folder; mask; when-installing; when-uninstalling"},
    {"Copy/Move Local Files", "source; mask; destination; new-name; copy; options?"},
    {"Edit INI File", "folder; file; mode; section; key; value?"},

    // Registry.
    {"Read Registry", "result; root; key; value-name?"},
    {"Check Registry", "result; root; key; value-name?"},
    {"Find All Registry", "result; root; key; subkeys?"},
    {"Delete Registry", "root; key; value-name; whole-key?"},
    {"Write Registry", "permanence; root; key; value-name; data; string; type"},

    // System information.
    {"Get System Settings", "result; setting"},
    {"Get OS or SP Level", "result; name?"},
    {"Get Folder Location", "result; folder; all-users?"},
    {"Is MSI Setup Installed", "product-code; result"},

    // Processes, programs and restarts.
    {"Run Program", "program; hidden; parameters; wait; result?"},
    {"Run Program As", "program; folder; parameters; show; user; password; domain; result?; wait?; environment?"},
    {"Check Process", "process; result"},
    {"Terminate Process", "process; result?"},
    {"Terminate Program", "title; class"},
    {"Register Library", "library; register; result?"},
    {"Reboot Computer", ""},
    {"Reboot and Resume", ""},
    {"Reboot and Login", ""},

    // Services and scheduled tasks.
    {"Check Service", "name; computer; result"},
    {"Control Service", "name; argument; operation; wait?"},
    {"Schedule Task",
     "name; computer; at-start; at-logon; daily; day; time; online-only; interactive; program; folder; "
     "parameters; account?; password?"},
    {"Delete Scheduled Task", "name; computer?"},

    // Users, groups, shares and access control.
    {"Create User",
     "name; full-name; comment; password; fixed-password?; never-expires?; disabled?; computer?; groups?"},
    {"Delete User", "name; computer?"},
    {"Create Group", "name; comment; computer?"},
    {"Delete Group", "name; computer?"},
    {"Create Share", "folder; share; remark?"},
    {"Delete Share", "share"},
    {"Set Access Control",
     "object; everyone; current-user; authenticated-users; named-account; account; read; full; grant; reset; "
     "remove; file; share; registry-key; service; printer"},

    // IIS.
    {"Get IIS Site List", "result"},
    {"Get IIS Site Index", "comment; result"},
    {"Get IIS Property", "site-property; unread; site; folder; property; result"},
    {"Set IIS Property", "site-property; unread; site; folder; property; value"},
    {"Create IIS Site",
     "comment; index; address; host-header; port; secure-port; timeout; keep-alive; logging; asp; executables; "
     "unlimited; iis7-flag; max-connections; server-size"},
    {"Create Virtual Folder",
     "folder; path; source-access; read; write; browsing; log-visits; index; application; execute; "
     "default-document; documents; footer; anonymous; ntlm; basic; mime-map; site"},
    {"Delete Virtual Folder", "site; folder"},
    {"Delete IIS Site", "site"},
    {"Control IIS Site", "site; operation"},
    {"IIS Anonymous User", "result?"},

    // .NET, Games Explorer, Media Center and System Restore.
    {"Generate Native Images", "assembly"},
    {"Run .NET Installer Class", "assembly; install"},
    {"Register Assembly", "assembly"},
    {"Remove Assemblies", ""},
    {"Create Games Explorer", "definition; folder"},
    {"Delete Games Explorer", "definition"},
    {"Create Media Center", "program; context; image; application-id; title"},
    {"Delete Media Center", "application-id"},
    {"System Restore", "begin; unread; result; description; type; sequence?; remove?"},

    // Shortcuts and file types.
    {"Create Shortcut", "target; name; folder; description; arguments; working-folder; icon; icon-index; show"},
    {"Advertised Shortcut", "target; name; folder; description; arguments; working-folder; icon; icon-index; show"},
    {"Create File Type", "key; application; description; icon; icon-index; extensions; verbs?"},
    {"Advertised File Type", "identifier; unread; description"},
};

}  // namespace

CommandParameters CommandEntry::parsed() const {
  CommandParameters result;
  bool optional = false;
  for (std::string item : split(std::string(parameters), ";")) {
    std::string word = trim(item);
    if (word.empty()) continue;
    if (word.back() == '?') {
      optional = true;
      word.pop_back();
    }
    if (word.size() > 3 && word.compare(word.size() - 3, 3, "...") == 0) {
      result.lastTakesRest = true;
      word.resize(word.size() - 3);
    }
    result.names.push_back(word);
    if (!optional) result.required = result.names.size();
  }
  return result;
}

std::span<const CommandEntry> commandTable() { return kCommands; }

const CommandEntry* findCommandEntry(std::string_view name) {
  static const auto index = [] {
    std::unordered_map<std::string_view, const CommandEntry*> map;
    for (const CommandEntry& entry : kCommands) map.emplace(entry.name, &entry);
    return map;
  }();
  const auto it = index.find(name);
  return it == index.end() ? nullptr : it->second;
}

std::string describeParameters(const CommandParameters& parameters) {
  std::string text;
  for (const std::string& name : parameters.names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

}  // namespace orv::make
