// Every script command the engine knows, with the parameters its line carries. The project reader
// checks each script line against it: the engine looks a line's parameters up by position and never
// checks where they end, so a line must hold exactly the count the command reads.
#pragma once
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orv::make {

struct CommandParameters {
  std::vector<std::string> names;  // one short name per parameter, in line order
  size_t required = 0;             // leading parameters a line must give; the rest read as empty texts
  bool lastTakesRest = false;      // the last parameter is free text: bars in it stay part of it
};

struct CommandEntry {
  std::string_view name;
  // The parameters as written in the table: names separated by ";". A name ending in "?" starts the
  // optional tail (it and every later one may be left out); a name ending in "..." takes the rest of the
  // line, bars included.
  std::string_view parameters;

  CommandParameters parsed() const;
};

// The whole table, in the order of the engine's subsystems.
std::span<const CommandEntry> commandTable();

// The entry of a command name (compared exactly, as the engine compares them); null when unknown.
const CommandEntry* findCommandEntry(std::string_view name);

// "name, selected, description": the parameter names of an entry for messages.
std::string describeParameters(const CommandParameters& parameters);

}  // namespace orv::make
