# Writes OUT, the table of the default pages built into orvmake: every DIR/<name>.txt design text with
# DIR/<name>.rules when there is one. Run as a build step: cmake -DDIR=... -DOUT=... -P embed_pages.cmake
file(GLOB designs "${DIR}/*.txt")
list(SORT designs)
set(rows "")
foreach(design ${designs})
  get_filename_component(name "${design}" NAME_WE)
  file(READ "${design}" text)
  set(rules "")
  if(EXISTS "${DIR}/${name}.rules")
    file(READ "${DIR}/${name}.rules" rules)
  endif()
  string(APPEND rows "      {\"${name}\", R\"orvpage(${text})orvpage\", R\"orvpage(${rules})orvpage\"},\n")
endforeach()
file(WRITE "${OUT}.new" "// Generated from tools/orvmake/pages by embed_pages.cmake.
#include \"orvmake/pages.h\"

namespace orv::make {

const std::vector<DefaultPage>& defaultPages() {
  static const std::vector<DefaultPage> pages = {
${rows}  };
  return pages;
}

}  // namespace orv::make
")
file(COPY_FILE "${OUT}.new" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.new")
