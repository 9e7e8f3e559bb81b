// Scripts the start-up check rejects, one per kind of error, with the message and result it gives.
// The check's own tests compare the messages; the end-to-end tests run each as a setup (exit code 314).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/script_check.h"

namespace orv::test {

struct RejectCase {
  const char* name;
  std::vector<std::vector<std::string>> lines;
  int64_t result;
  std::string message;
};

inline std::vector<RejectCase> scriptRejections() {
  const int64_t count = kBlockCountMismatch;
  return {
      // Block structure.
      // An "End" after a wizard loop is not matched against the If stack (the wizard flag stays on until the
      // next "If"), so only the count finds the extra one.
      {"one End too many after a wizard loop", {{"Wizard Loop"}, {"End"}, {"End"}}, count, "Too many END statements"},
      {"one End too many after an If", {{"If", "SILENT", "0", "TRUE"}, {"End"}, {"End"}}, 2,
       "IF conditional closed outside of IF conditional scope"},
      {"If left open", {{"If", "SILENT", "0", "TRUE"}}, count, "Insufficient END statements"},
      {"Wizard Loop left open", {{"Wizard Loop"}}, count, "Insufficient END statements"},
      {"While left open", {{"While", "SILENT", "0", "TRUE"}}, count, "Insufficient WEND statements"},
      {"Wend alone", {{"Wend"}}, 0, "WHILE loop closed outside of WHILE loop scope"},
      {"Repeat left open", {{"Repeat"}}, count, "Insufficient UNTIL statements"},
      {"Until alone", {{"Comment"}, {"Until", "SILENT", "0", "TRUE"}}, 1,
       "REPEAT loop closed outside of REPEAT loop scope"},
      {"For Each left open", {{"For Each", "I", ",", "a,b"}}, count, "Insufficient NEXT statements"},
      {"Next alone", {{"Next"}}, 0, "FOR EACH loop closed outside of FOR EACH loop scope"},
      {"Break outside loops", {{"If", "SILENT", "0", "TRUE"}, {"Break"}, {"End"}}, 1,
       "Break not allowed outside of LOOP scope"},
      {"Continue outside loops", {{"Continue"}}, 0, "Continue not allowed outside of LOOP scope"},
      {"End closes a While", {{"While", "SILENT", "0", "TRUE"}, {"End"}, {"Wend"}}, 1,
       "IF conditional closed outside of IF conditional scope"},
      {"End closes a While inside an If",
       {{"If", "SILENT", "0", "TRUE"}, {"While", "SILENT", "0", "TRUE"}, {"End"}, {"Wend"}, {"End"}}, 2,
       "IF conditional closed outside of LOOP scope"},
      {"Wend inside an If", {{"While", "SILENT", "0", "TRUE"}, {"If", "SILENT", "0", "TRUE"}, {"Wend"}}, 2,
       "WHILE loop closed outside of CONDITIONAL or REPEAT or FOR EACH loop scope"},
      {"Until inside a While", {{"Repeat"}, {"While", "SILENT", "0", "TRUE"}, {"Until", "SILENT", "0", "TRUE"}}, 2,
       "REPEAT loop closed outside of CONDITIONAL or WHILE or FOR EACH loop scope"},
      {"Next inside a Repeat", {{"For Each", "I", ",", "a"}, {"Repeat"}, {"Next"}}, 2,
       "FOR EACH loop closed outside of CONDITIONAL or REPEAT or WHILE loop scope"},
      {"nested For Each on one variable", {{"For Each", "I", ",", "a"}, {"For Each", "i", ",", "b"}, {"Next"}, {"Next"}},
       1, "FOR EACH variable re-used inside nested FOR EACH loop"},
      {"Label inside an If", {{"If", "SILENT", "0", "TRUE"}, {"Label", "A"}, {"End"}}, 1,
       "LABEL statements cannot be nested inside loops/conditionals"},
      {"Label inside a wizard loop", {{"Wizard Loop"}, {"Label", "A"}, {"End"}}, 1,
       "LABEL statements cannot be nested inside loops/conditionals"},
      // Labels.
      {"label names differ in case only", {{"Label", "Start"}, {"Label", "START"}}, 1, "LABEL re-defined: START"},
      {"a disabled duplicate label", {{"Label", "A"}, {"//Label", "a"}}, 1, "LABEL re-defined: a"},
      {"GoTo an unknown label", {{"Label", "A"}, {"GoTo Label", "b"}}, 1, "LABEL undefined: b"},
      // Variables.
      {"If on an undeclared variable set later", {{"If", "X", "0", "1", "FALSE"}, {"End"}, {"Set Variable", "X", "1"}}, 0,
       "Variable not defined: X"},
      {"If on an undeclared reference", {{"If", "$X$", "0", "1", "FALSE"}, {"End"}}, 0, "Variable not defined: $X$"},
      {"the compared value wins over the variable",
       {{"If", "Y", "0", "$Z$", "FALSE"}, {"End"}}, 0, "Variable not defined: $Z$"},
      {"While without a variable", {{"While", "", "0", "1"}, {"Wend"}}, 0, "Variable required"},
      {"run-time name of a predeclared setting", {{"If", "ZORN_DISABLE_ROLLBACK", "0", "TRUE"}, {"End"}}, 0,
       "Variable not defined: ZORN_DISABLE_ROLLBACK"},
      {"Set Variable without a name", {{"Set Variable", "", "1"}}, 0, "Variable required"},
      {"Set Variable with only the keep marker", {{"Set Variable", "$ZORN$ZORN$TRUE", "1"}}, 0, "Variable required"},
      {"For Each over a variable set before", {{"Set Variable", "I", "1"}, {"For Each", "I", ",", "a"}, {"Next"}}, 1,
       "FOR EACH variable previously defined outside FOR EACH loop"},
      {"For Each without a variable", {{"For Each", "", ",", "a"}, {"Next"}}, 0, "Variable required"},
      {"Convert Path on an undefined variable", {{"Convert Path", "P", "1"}}, 0, "Variable not defined: P"},
      {"Mathematics without a result", {{"Mathematics", "1", "2", "0", ""}}, 0, "Variable required"},
      {"Parse String without results", {{"Parse String", "a,b", ",", "", ""}}, 0, "Variable required"},
      {"Get Folder Location without a result", {{"Get Folder Location", ""}}, 0, "Variable required"},
      {"Read from Text File without a result", {{"Read from Text File", "f.txt", ""}}, 0, "Variable required"},
      {"System Restore on without a result", {{"System Restore", "TRUE", "desc", ""}}, 0, "Variable required"},
      // Command rules.
      {"Install Files without a target",
       {{"Install Files", "files", "", ""}}, 0,
       "A target folder must be specified for files that are being installed.\r"
       "The value $TARGETDIR$ represents the destination folder chosen by the user."},
      {"Delete Files without a mode", {{"Delete Files", "C:\\x", "*.*", "FALSE", "no"}}, 0,
       "At least one delete mode must be selected"},
      {"Web Media Block with a bad name", {{"Web Media Block", "a/b", "http://x/"}}, 0,
       "Web Media Block name must be a legal file name"},
      {"Web Media Block without a URL wins", {{"Web Media Block", "a:b", ""}}, 0,
       "Web Media Block must have at least one download URL"},
      {"Display Dialog without a name", {{"Display Dialog", "", "WIZARD", "TRUE", "", "TRUE", "FALSE"}}, 0, "Dialog name not specified"},
      {"Display Dialog on an undefined condition", {{"Display Dialog", "welcome", "WIZARD", "TRUE", "$NOPE$"}}, 0,
       "Variable not defined: $NOPE$"},
      {"Evaluate Expression that does not parse", {{"Evaluate Expression", "$A$ = \"x", "R"}}, 0,
       "Syntax error in expression. Please review the help topic \"Evaluate Expression\" for the correct syntax."},
      {"Evaluate Expression without a result", {{"Evaluate Expression", "\"a\" = \"a\"", ""}}, 0, "Variable required"},
      // Wizard loops.
      {"Set Variable inside a wizard loop",
       {{"Wizard Loop"}, {"Display Dialog", "welcome", "WIZARD", "TRUE", "", "TRUE", "FALSE"}, {"Set Variable", "X", "1"}, {"End"}}, 2,
       "Statements other than DISPLAY DIALOG not allowed inside WIZARD LOOP"},
  };
}

}  // namespace orv::test
