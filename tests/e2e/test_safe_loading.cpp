// A setup run from a folder holding planted libraries must not load them.
#include <gtest/gtest.h>

#include <windows.h>

#include "e2e/harness.h"
#include "platform/files.h"
#include "platform/strings.h"

namespace orv::test {
namespace {

// Libraries the engine uses that are not protected by the system's known-library list.
const char* const kPlantedNames[] = {"dwmapi.dll",  "msimg32.dll",       "uxtheme.dll", "version.dll",
                                     "comctl32.dll", "windowscodecs.dll", "cryptbase.dll", "msi.dll"};

TEST(SafeLoadingTest, PlantedLibrariesBesideTheSetupAreNotLoaded) {
  const SetupFolder setup = buildSetup(scriptImage({}));
  for (const char* name : kPlantedNames) ASSERT_TRUE(copyFileOver(hostPath(ORV_PLANT), setup.folder + name));

  // Control: a program that loads by bare name does pick the planted library up here, so the check below
  // is meaningful on this system.
  ASSERT_TRUE(copyFileOver(hostPath(ORV_PLANT_PROBE), setup.folder + "probe.exe"));
  SetupFolder probe = setup;
  probe.exe = setup.folder + "probe.exe";
  runSetup(probe, "dwmapi.dll");
  ASSERT_TRUE(fileExists(setup.folder + "dwmapi.dll.loaded")) << "this system ignores planted libraries";
  DeleteFileW(widen(setup.folder + "dwmapi.dll.loaded").c_str());

  // The setup with its windows shown (they use common controls, composition, pictures).
  EXPECT_EQ(runSetup(setup, "").exitCode, 0u);
  for (const char* name : kPlantedNames) EXPECT_FALSE(fileExists(setup.folder + name + ".loaded")) << name;
}

}  // namespace
}  // namespace orv::test
