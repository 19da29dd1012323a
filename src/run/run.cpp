// The run: one straight pass from start to exit.
#include "run.h"

#include <vector>

#include "file_placement.h"
#include "folders.h"
#include "guard.h"
#include "housekeeping.h"
#include "messages.h"
#include "packages.h"
#include "platform_family.h"

namespace {

// A token of the command line holds at most this many characters; a longer
// one is taken as absent, since a cut path could name another folder.
const size_t kLongestToken = 256;

bool IsBlank(unsigned char c) { return c >= 1 && c <= 32; }

// The installer's own path, read whole however long it is.
std::string ReadModulePath() {
  return ReadGrowing(
      [](char* buffer, DWORD size) { return GetModuleFileNameA(NULL, buffer, size); });
}

bool DbcsEnabled() { return GetSystemMetrics(SM_DBCSENABLED) != 0; }

}  // namespace

std::string CommandLineToken(const char* commandLine, int n) {
  if (commandLine == NULL || n < 0) return std::string();
  const unsigned char* p = reinterpret_cast<const unsigned char*>(commandLine);
  std::string token;
  for (int index = 0;; ++index) {
    // Blanks, and empty quoted pairs with the blanks after them.
    for (;;) {
      while (IsBlank(*p)) ++p;
      if (p[0] != '"' || p[1] != '"') break;
      p += 2;
    }
    token.clear();
    bool quoted = false;
    while (*p != 0 && (quoted || *p > 32)) {
      if (*p == '"') {
        quoted = !quoted;
      } else {
        token += static_cast<char>(*p);
      }
      ++p;
    }
    if (token.empty()) return std::string();
    if (index == n) return token.size() > kLongestToken ? std::string() : token;
  }
}

std::string GetCommandLineArgument(int n) {
  if (n == 0) return ReadModulePath();
  return CommandLineToken(GetCommandLineA(), n);
}

std::string SourceFolderOf(const std::string& installerPath) {
  const bool dbcs = DbcsEnabled();
  size_t cut = 0;
  for (size_t i = 0; i < installerPath.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(installerPath[i]);
    if (c == '\\' || c == ':') {
      cut = i + 1;
    } else if (dbcs && IsDBCSLeadByte(c)) {
      ++i;  // the trail byte of a double-byte character is never a separator
    }
  }
  return installerPath.substr(0, cut);
}

std::string FindOnCdRom(const std::string& relativePath) {
  for (char letter = 'D'; letter <= 'Z'; ++letter) {
    const std::string root = std::string(1, letter) + ":\\";
    if (GetDriveTypeA(root.c_str()) != DRIVE_CDROM) continue;
    const std::string path = root + relativePath;
    if (FileExists(path)) return path;
  }
  return std::string();
}

void CopyFromCdRom(const std::string& relativePath, const std::string& targetPath) {
  const std::string source = FindOnCdRom(relativePath);
  if (!FileExists(source)) return;
  CopyFileA(source.c_str(), targetPath.c_str(), FALSE);
}

void RunFinalPhase(const std::string& applicationFolder, const std::string& documentName) {
  const std::string folder = NormalizeFolder(applicationFolder, kAddTrailingBackslash);
  DeleteFileA((folder + "HISTORY.TXT").c_str());
  CopyFromCdRom("OEM\\ORVOOEM.DLL", folder + "ORVOOEM.DLL");
  if (documentName.empty()) return;
  CopyFromCdRom("DATA\\DOC\\" + documentName + "-de.pdf", folder + documentName + "-de.pdf");
  CopyFromCdRom("DATA\\DOC\\" + documentName + "-en.pdf", folder + documentName + "-en.pdf");
}

void RunSetup() {
  ReadPlatformFamily();

  if (EnumerateProcesses(IsHostApplicationProcess, 0) && HostApplicationFound) {
    ShowInstallerMessage("Please close Orvo-Studio, restart your machine and run setup again !");
    ExitProcess(0);
  }

  const std::string systemFolder = ReadSystemFolder();
  const std::string windowsFolder = ReadWindowsFolder();
  const std::string sourceFolder = SourceFolderOf(GetCommandLineArgument(0));

  SetFileCacheLimits();
  RemoveEngineSettings();

  for (PackageInstaller install : PackageInstallers) {
    install(sourceFolder, windowsFolder, systemFolder);
  }

  const std::string applicationFolder = GetCommandLineArgument(1);
  if (!applicationFolder.empty()) RunFinalPhase(applicationFolder, GetCommandLineArgument(2));

  ExitProcess(0);
}
