// The project reader: build-time constants written into script lines.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "orvmake/project.h"

namespace orv::make {
namespace {

namespace fs = std::filesystem;

TEST(ProjectConstants, AreWrittenIntoScriptParameters) {
  const fs::path root = fs::temp_directory_path() / ("orvmake-project-" + std::to_string(::getpid()));
  fs::create_directories(root);
  std::ofstream(root / "p.orvp") << "title = Demo App\n"
                                    "define GREETING = Hello #title#\n"
                                    "Set Variable: A | #TITLE#\\#Greeting#\n"
                                    "Set Variable: B | #UNDEFINED# and # lone\n";
  const Project project = readProject((root / "p.orvp").string());
  fs::remove_all(root);
  const auto& p = project.image.parameters;
  ASSERT_EQ(p.size(), 6u);
  EXPECT_EQ(p[2], "Demo App\\Hello Demo App");  // a definition may use another constant
  EXPECT_EQ(p[5], "#UNDEFINED# and # lone");
}

}  // namespace
}  // namespace orv::make
