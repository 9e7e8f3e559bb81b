// Failures of the archive library that carry their error number straight to GetLastArchiveError.
#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>

namespace orv::lib {

class LibraryError : public std::runtime_error {
 public:
  LibraryError(int32_t number, const std::string& what) : std::runtime_error(what), number_(number) {}
  int32_t number() const { return number_; }

 private:
  int32_t number_;
};

}  // namespace orv::lib
