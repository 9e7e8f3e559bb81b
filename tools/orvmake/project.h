// A setup project: product fields and script lines, read from a readable text file.
//
//   # comment
//   title = Demo Product            (product fields: title, version, publisher, contact, help,
//   version = 1.0                    update, comments, product-code, revision-code, codepage,
//   define NAME = value              language, caching; "define" adds a compiler constant)
//   include other.orvp              (relative to the including file)
//   Set Variable: TARGETDIR | C:\Demo | FALSE
//   End
//   // Comment: a disabled line keeps its place in the script
//
// A script line is the command name, and after a colon its parameters separated by "|" (blanks
// around each are trimmed; "\|" is a literal bar; "" is an empty parameter).
#pragma once
#include <stdexcept>
#include <string>
#include <vector>

#include "core/image.h"

namespace orv::make {

class ProjectError : public std::runtime_error {
 public:
  ProjectError(const std::string& file, size_t line, const std::string& message)
      : std::runtime_error(file + ":" + std::to_string(line) + ": " + message) {}
};

// Reads the project and builds the image (identifiers derived from the project, so the same project
// always gives the same image).
SetupImage readProject(const std::string& path);

}  // namespace orv::make
