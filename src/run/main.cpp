// Windows entry point. The installer opens no window; its whole work is the
// run.
#include "run.h"

#ifdef _WIN32
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { RunSetup(); }
#endif
