#include <windows.h>

#include "bootstrap/startup.h"
#include "platform/libraries.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  orv::restrictLibrarySearch();  // before anything can load a library
  return orv::runSetup();
}
