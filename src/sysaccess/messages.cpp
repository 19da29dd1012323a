// The installer's messages: the problems it reports and goes on, and the one
// that ends the run.
#include "messages.h"

const char* const InstallerCaption = "Miravelt Installation";

void ShowInstallerMessage(const std::string& text) {
  MessageBoxA(NULL, text.c_str(), InstallerCaption, MB_OK);
}

void FailIniWrite(const std::string& iniFile) {
  const std::string text = "Unable to write to " + iniFile;
  MessageBoxA(NULL, text.c_str(), "Application Error", MB_ICONERROR | MB_TASKMODAL);
  ExitProcess(1);
}
