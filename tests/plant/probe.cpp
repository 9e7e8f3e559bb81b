// Loads a library by its bare name with the default search order, as a careless program would; used to
// show that this system does load planted libraries from a program's folder.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR cmd, int) {
  return LoadLibraryW(cmd) ? 0 : 1;
}
