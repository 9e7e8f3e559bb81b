#include "engines/native_security.h"

#include <windows.h>
#include <aclapi.h>

#include <vector>

#include "core/text.h"
#include "engines/native_job.h"
#include "platform/handles.h"
#include "platform/strings.h"

namespace orv {

struct SavedSecurity {
  ~SavedSecurity() {
    if (descriptor) LocalFree(descriptor);
  }
  bool isKey = false;
  HKEY root = nullptr;
  std::string key;
  RegistryView view = RegistryView::Bits32;
  std::wstring path;  // file-system path of a file
  PSECURITY_DESCRIPTOR descriptor = nullptr;  // owns owner and dacl; null when they could not be read
  PSID owner = nullptr;
  PACL dacl = nullptr;
};

namespace {

bool overrideOn(NativeJob& job) { return isTrueText(job.vars().getValue("NATIVE_OVERRIDE_PERMISSIONS")); }
bool keepUnreadable(NativeJob& job) {
  return isTrueText(job.vars().getValue("NATIVE_OVERRIDE_NON_RESTORABLE_PERMISSIONS"));
}

void enablePrivilege(const wchar_t* name) {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &raw)) return;
  UniqueHandle token(raw);
  TOKEN_PRIVILEGES tp{};
  tp.PrivilegeCount = 1;
  tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (LookupPrivilegeValueW(nullptr, name, &tp.Privileges[0].Luid))
    AdjustTokenPrivileges(token.get(), FALSE, &tp, 0, nullptr, nullptr);
}

// The current user's SID (kept in `buffer`).
PSID currentUser(std::vector<char>& buffer) {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return nullptr;
  UniqueHandle token(raw);
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  buffer.resize(size);
  if (!size || !GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) return nullptr;
  return reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
}

// `acl` with full access for `user` added; null when it cannot be built (free with LocalFree).
PACL withFullAccess(PACL acl, PSID user, DWORD rights) {
  EXPLICIT_ACCESSW access{};
  access.grfAccessPermissions = rights;
  access.grfAccessMode = GRANT_ACCESS;
  access.grfInheritance = NO_INHERITANCE;
  access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  access.Trustee.TrusteeType = TRUSTEE_IS_USER;
  access.Trustee.ptstrName = static_cast<LPWSTR>(user);
  PACL result = nullptr;
  return SetEntriesInAclW(1, &access, acl, &result) == ERROR_SUCCESS ? result : nullptr;
}

void takeOwnershipPrivileges() {
  enablePrivilege(SE_TAKE_OWNERSHIP_NAME);
  enablePrivilege(SE_RESTORE_NAME);
}

}  // namespace

SecurityHandle takeOverFileSecurity(NativeJob& job, const std::string& path, bool ownershipOnly) {
  if (!overrideOn(job)) return nullptr;
  auto saved = std::make_shared<SavedSecurity>();
  saved->path = widen(job.fsPath(path));
  const DWORD read = GetNamedSecurityInfoW(saved->path.c_str(), SE_FILE_OBJECT,
                                           OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &saved->owner,
                                           nullptr, &saved->dacl, nullptr, &saved->descriptor);
  if (read != ERROR_SUCCESS && !(read == ERROR_ACCESS_DENIED && !keepUnreadable(job))) return nullptr;
  takeOwnershipPrivileges();
  std::vector<char> sid;
  PSID user = currentUser(sid);
  if (!user) return saved;
  SetNamedSecurityInfoW(saved->path.data(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, user, nullptr, nullptr, nullptr);
  if (!ownershipOnly) {
    if (PACL full = withFullAccess(saved->dacl, user, GENERIC_ALL)) {
      SetNamedSecurityInfoW(saved->path.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, full, nullptr);
      LocalFree(full);
    }
  }
  return saved;
}

SecurityHandle takeOverKeySecurity(NativeJob& job, HKEY root, const std::string& key) {
  if (!overrideOn(job) || !root) return nullptr;
  auto saved = std::make_shared<SavedSecurity>();
  saved->isKey = true;
  saved->root = root;
  saved->key = key;
  saved->view = job.view();
  std::vector<char> sid;
  PSID user = currentUser(sid);
  LONG error = 0;
  auto reader = RegistryKey::tryOpen(root, key, READ_CONTROL, saved->view, error);
  if (!reader && error == ERROR_ACCESS_DENIED && !keepUnreadable(job) && user) {
    takeOwnershipPrivileges();
    if (auto owner = RegistryKey::tryOpen(root, key, WRITE_OWNER, saved->view, error))
      SetSecurityInfo(owner->get(), SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION, user, nullptr, nullptr, nullptr);
    reader = RegistryKey::tryOpen(root, key, READ_CONTROL, saved->view, error);
  }
  if (!reader) return nullptr;  // a key that does not exist yet has nothing to take over
  if (GetSecurityInfo(reader->get(), SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                      &saved->owner, nullptr, &saved->dacl, nullptr, &saved->descriptor) != ERROR_SUCCESS)
    return nullptr;
  if (!user) return saved;
  takeOwnershipPrivileges();
  if (auto writer = RegistryKey::tryOpen(root, key, WRITE_DAC | WRITE_OWNER, saved->view, error)) {
    SetSecurityInfo(writer->get(), SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION, user, nullptr, nullptr, nullptr);
    if (PACL full = withFullAccess(saved->dacl, user, KEY_ALL_ACCESS)) {
      SetSecurityInfo(writer->get(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, full, nullptr);
      LocalFree(full);
    }
  }
  return saved;
}

void restoreSecurity(NativeJob& job, SecurityHandle& saved, const std::string& newPath) {
  if (!saved) return;
  if (saved->descriptor) {
    const SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    takeOwnershipPrivileges();
    if (saved->isKey) {
      LONG error = 0;
      if (auto key = RegistryKey::tryOpen(saved->root, saved->key, WRITE_DAC | WRITE_OWNER, saved->view, error))
        SetSecurityInfo(key->get(), SE_REGISTRY_KEY, what, saved->owner, nullptr, saved->dacl, nullptr);
    } else {
      SetNamedSecurityInfoW(saved->path.data(), SE_FILE_OBJECT, what, saved->owner, nullptr, saved->dacl, nullptr);
      if (!newPath.empty()) {
        std::wstring fresh = widen(job.fsPath(newPath));
        SetNamedSecurityInfoW(fresh.data(), SE_FILE_OBJECT, what, saved->owner, nullptr, saved->dacl, nullptr);
      }
    }
  }
  saved.reset();
}

}  // namespace orv
