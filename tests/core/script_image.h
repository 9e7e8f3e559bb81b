// Script images for tests of the script check and flow: each line is {command, params...}; a command
// written with a leading "//" is a disabled line. Source positions read "C:\project\test.orv*<index>".
// A line reads past its own parameters into the next line's, as the image's parameter table does, so
// give every parameter a command reads.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "core/image.h"

namespace orv::test {

inline SetupImage scriptLines(const std::vector<std::vector<std::string>>& lines) {
  SetupImage img;
  img.title = "Test Product";
  for (size_t i = 0; i < lines.size(); ++i) {
    char id[64];
    std::snprintf(id, sizeof id, "{0000%04X-0000-4000-8000-%012zX}", static_cast<unsigned>(i & 0xFFFF), i);
    std::string command = lines[i].empty() ? std::string("Comment") : lines[i][0];
    const bool disabled = command.rfind("//", 0) == 0;
    if (disabled) command = command.substr(2);
    img.commands.push_back(command);
    img.lineIds.push_back(id);
    img.disabled.push_back(disabled ? "C" : "");
    img.mediaFolders.push_back("");
    img.sourcePositions.push_back("C:\\project\\test.orv*" + std::to_string(i));
    if (lines[i].size() > 1) {
      img.parameters.push_back(id);
      img.parameters.insert(img.parameters.end(), lines[i].begin() + 1, lines[i].end());
    }
  }
  return img;
}

}  // namespace orv::test
