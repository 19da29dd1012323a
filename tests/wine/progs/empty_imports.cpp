// empty_imports.exe: starts and ends at once, but imports what drvsetup.exe
// imports (ADVAPI32 and USER32 beside KERNEL32 and the C runtime), so the
// loader maps and initialises the same DLLs: the cost of starting a program
// that can show a message box.
#include <windows.h>

int main(int argc, char**) {
  // Never true; the calls keep the imports in the executable.
  if (argc > 1000) {
    HKEY key = nullptr;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &key);
    return MessageBoxA(nullptr, "", "", MB_OK) + GetSystemMetrics(SM_DBCSENABLED);
  }
  return 0;
}
