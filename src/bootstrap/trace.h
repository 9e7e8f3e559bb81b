// The phase trace: the optional log named by the "/l=" switch. Each line is appended as UTF-16LE with
// CR LF (no byte order mark); the file is opened, written and closed per line, and the first line of the
// process truncates it. A failing write never stops the setup.
#pragma once
#include <mutex>
#include <string>
#include <string_view>

namespace orv {

class Trace {
 public:
  void setPath(std::string_view path);  // empty: tracing off
  const std::string& path() const { return path_; }
  void line(std::string_view text);

 private:
  std::mutex lock_;  // workers write their steps too
  std::string path_;
  bool truncated_ = false;
};

}  // namespace orv
