// Windows entry point of drvremove.exe. Like the installer it opens no
// window; its whole work is the removal run.
#include "remove.h"

#ifdef _WIN32
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { RunRemoval(); }
#endif
