// standin.exe: stands in for a running host application in the Wine tests.
// Copied under the host application's file name and started in the
// background, it does nothing but wait: for the named event given as its
// argument, or, without one, until the session ends.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

int main(int argc, char** argv) {
  if (argc > 1) {
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, argv[1]);
    if (done) {
      WaitForSingleObject(done, INFINITE);
      CloseHandle(done);
      return 0;
    }
  }
  Sleep(INFINITE);
  return 0;
}
