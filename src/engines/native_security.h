// Taking over the security of files and registry keys the engine must change, and giving it back
// (only while NATIVE_OVERRIDE_PERMISSIONS is "TRUE"; otherwise nothing is taken or saved).
#pragma once
#include <windows.h>

#include <memory>
#include <string>

namespace orv {

class NativeJob;
struct SavedSecurity;
using SecurityHandle = std::shared_ptr<SavedSecurity>;

// Makes the current user the owner of the file and (unless `ownershipOnly`) grants them full access;
// returns the owner and DACL it replaced, or null when nothing was taken over.
SecurityHandle takeOverFileSecurity(NativeJob& job, const std::string& path, bool ownershipOnly);
SecurityHandle takeOverKeySecurity(NativeJob& job, HKEY root, const std::string& key);
// Writes the saved owner and DACL back; with `newPath` (a file that replaced the saved one) onto that
// file too. The saved data is released.
void restoreSecurity(NativeJob& job, SecurityHandle& saved, const std::string& newPath = {});

}  // namespace orv
