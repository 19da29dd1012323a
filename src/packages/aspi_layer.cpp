// The ASPI layer package: installs the running family's ASPI files by staged
// replacement, keeping what they replace under a backup name, and registers
// the layer. A machine that already has the layer is left alone.
#include "file_placement.h"
#include "packages.h"
#include "platform_family.h"
#include "registry_writers.h"

namespace {

enum class Folder { System, Windows };

// One file: its name in the source folder, and its staging, final and backup
// names relative to the target folder.
struct AspiFile {
  const char* sourceName;
  Folder target;
  const char* stagingName;
  const char* finalName;
  const char* backupName;
};

const AspiFile kFiles9x[] = {
    {"WNASPI32.9x", Folder::System, "WNASPI32.9x", "WNASPI32.DLL", "WNASPI32.OLD"},
    {"WINASPI.9x", Folder::System, "WINASPI.9x", "WINASPI.DLL", "WINASPI.OLD"},
    {"ASPIENUM.9x", Folder::System, "ASPIENUM.9x", "ASPIENUM.VXD", "ASPIENUM.OLD"},
    {"APIX.9x", Folder::System, "IOSUBSYS\\APIX.9x", "IOSUBSYS\\APIX.VXD", "IOSUBSYS\\APIX.OLD"},
};

const AspiFile kFilesNt[] = {
    {"ASPI32.NT", Folder::System, "Drivers\\ASPI32.NT", "Drivers\\ASPI32.SYS",
     "Drivers\\ASPI32.OLD"},
    {"WNASPI32.NT", Folder::System, "WNASPI32.NT", "WNASPI32.DLL", "WNASPI32.OLD"},
    {"WINASPI.NT", Folder::Windows, "SYSTEM\\WINASPI.NT", "SYSTEM\\WINASPI.DLL",
     "SYSTEM\\WINASPI.OLD"},
    {"WOWPOST.NT", Folder::Windows, "SYSTEM\\WOWPOST.NT", "SYSTEM\\WOWPOST.EXE",
     "SYSTEM\\WOWPOST.OLD"},
};

const char kAspiEnumKey[] = "SYSTEM\\CurrentControlSet\\Services\\VXD\\ASPIEnum";
const char kApixKey[] = "SYSTEM\\CurrentControlSet\\Services\\VXD\\APIX";
const char kAspi32Key[] = "SYSTEM\\CurrentControlSet\\Services\\Aspi32";
const char kAspi32ParametersKey[] = "SYSTEM\\CurrentControlSet\\Services\\Aspi32\\Parameters";

const RegistryRow kValues9x[] = {
    {kAspiEnumKey, "Start", REG_DWORD, nullptr, 0, nullptr, 0},
    {kAspiEnumKey, "StaticVxD", REG_SZ, "ASPIENUM.VXD", 0, nullptr, 0},
    {kApixKey, "ExcludeMiniports", REG_SZ, "", 0, nullptr, 0},
};

const RegistryRow kValuesNt[] = {
    {kAspi32Key, "Type", REG_DWORD, nullptr, 1, nullptr, 0},   // kernel driver
    {kAspi32Key, "Start", REG_DWORD, nullptr, 2, nullptr, 0},  // automatic start
    {kAspi32Key, "Undoable", REG_DWORD, nullptr, 1, nullptr, 0},
    {kAspi32Key, "ErrorControl", REG_DWORD, nullptr, 1, nullptr, 0},  // normal
    {kAspi32Key, "MatchFlags", REG_DWORD, nullptr, 0, nullptr, 0},
    {kAspi32ParametersKey, "ExcludeMiniports", REG_SZ, "", 0, nullptr, 0},
};

// One row: the staged copy and, only when it succeeded, its two renames.
void PlaceFile(const AspiFile& file, const std::string& sourceFolder,
               const std::string& windowsFolder, const std::string& systemFolder) {
  const std::string& folder = file.target == Folder::Windows ? windowsFolder : systemFolder;
  const std::string staging = folder + file.stagingName;
  const std::string finalPath = folder + file.finalName;
  const std::string sourcePath = sourceFolder + file.sourceName;
  // A run cut short after this row's restart renames leaves the new file
  // at its final name: doing the row again would move it onto the backup
  // name and lose the file kept there.
  if (SameFile(finalPath, sourcePath)) return;
  if (!CopyFileA(sourcePath.c_str(), staging.c_str(), FALSE)) return;
  // Renames run at the restart in the order they were made: the file that
  // holds the final name moves aside before the staged one takes it. When
  // it cannot be moved aside, it is not replaced either.
  if (!ScheduleRenameAtRestart(finalPath, folder + file.backupName)) return;
  ScheduleRenameAtRestart(staging, finalPath);
}

// The family's files and values. The first row's final name marks an
// installed layer, so that row comes last, after the values: a run stopped
// anywhere before it leaves no marker behind, and the next run does the
// whole package again instead of skipping what was never done.
template <size_t Files, size_t Values>
void InstallFamily(const AspiFile (&files)[Files], const RegistryRow (&values)[Values],
                   const std::string& sourceFolder, const std::string& windowsFolder,
                   const std::string& systemFolder) {
  for (size_t i = 1; i < Files; ++i) PlaceFile(files[i], sourceFolder, windowsFolder, systemFolder);
  WriteRegistryRows(values);
  PlaceFile(files[0], sourceFolder, windowsFolder, systemFolder);
}

}  // namespace

void InstallAspiLayer(const std::string& sourceFolder, const std::string& windowsFolder,
                      const std::string& systemFolder) {
  const std::string source = NormalizeFolder(sourceFolder, kAddTrailingBackslash);
  const std::string windows = NormalizeFolder(windowsFolder, kAddTrailingBackslash);
  const std::string system = NormalizeFolder(systemFolder, kAddTrailingBackslash);
  const bool family9x = PlatformFamily == FAMILY_9X;

  // The first file of the family's table marks an installed layer.
  const AspiFile& marker = family9x ? kFiles9x[0] : kFilesNt[0];
  if (FileExists(system + marker.finalName)) return;

  if (family9x) {
    InstallFamily(kFiles9x, kValues9x, source, windows, system);
  } else {
    InstallFamily(kFilesNt, kValuesNt, source, windows, system);
  }
}
