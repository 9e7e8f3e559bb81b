// The contract between the interpreter and every command handler. A handler reads its parameters
// through the context (unexpanded, expanded or as a path), reports results only by writing variables
// (reason: the command name followed by " Action"), and throws ScriptError for anything the script
// cannot test; the interpreter turns that into the script-error message.
#pragma once
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace orv {

struct Engine;

class ScriptError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class CommandContext {
 public:
  CommandContext(Engine& engine, size_t line) : engine_(engine), line_(line) {}

  Engine& engine() const { return engine_; }
  size_t line() const { return line_; }  // 1-based
  std::string_view command() const;
  std::string_view param(size_t n) const;  // unexpanded; 0 gives the line identifier
  std::string expanded(size_t n) const;    // $NAME$ expansion
  std::string path(size_t n) const;        // expansion with doubled backslashes collapsed
  // param(n) as the line's k-th localizable text: its translation while a language is set (LANGUAGE
  // not empty), else param(n) itself; unexpanded.
  std::string localized(size_t n, int k) const;
  // Defines the variable (upper-cased name, empty value) when no variable of that name exists yet.
  void defineIfMissing(std::string_view name) const;
  // The variable a name parameter names: NAME for "$NAME$", else the parameter itself.
  static std::string variableName(std::string_view nameParam);
  // Writes a result variable named by a parameter text ("NAME" or "$NAME$"), with the reason
  // command + " Action".
  void setResult(std::string_view nameParam, std::string_view value) const;
  std::string reason() const;

 private:
  Engine& engine_;
  size_t line_;
};

using CommandHandler = void (*)(CommandContext&);

struct CommandEntry {
  std::string_view name;
  CommandHandler handler;
};

}  // namespace orv
