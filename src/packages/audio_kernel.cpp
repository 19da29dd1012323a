// The realtime audio kernel package: its entry, the engine files shared by
// both families, and the 9x family branch (virtual device driver, thunk
// library, class and hardware trees of the 9x registry).
#include "file_placement.h"
#include "file_removal.h"
#include "key_removal.h"
#include "packages.h"
#include "platform_family.h"
#include "registry_writers.h"
#include "system_ini.h"

const BYTE EngineConfigDefault[16] = {0x3A, 0x7C, 0x51, 0xE9, 0xB2, 0x06, 0x11, 0xD4,
                                      0x8F, 0x2D, 0x02, 0x4B, 0x7E, 0x19, 0xC3, 0x58};

namespace {

const char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kRunValue[] = "Realtime Audio Engine";
const char kEngineCommand[] = "zoltavex.exe";
#define MAKER_KEY "Software\\Miravelt"
const char kMakerKey[] = MAKER_KEY;
const char kEngineKey[] = MAKER_KEY "\\ZOLTAVEX";
#undef MAKER_KEY

// The engine library and program, each staged beside its final name in the
// system folder.
struct EngineFile {
  const char* name;
  const char* stagingName;
};
const EngineFile kEngineLibrary = {"ZOLTAVEX.DLL", "ZOLTAVEX.DL"};
const EngineFile kEngineProgram = {"ZOLTAVEX.EXE", "ZOLTAVEX.EX"};

// The 9x family's driver files in the system folder, and the setup
// information file below the windows folder.
const char kVirtualDriver[] = "ZOLTAVEX.VXD";
const char kThunkLibrary[] = "ZOLTAV16.DLL";
const char kInfFile[] = "INF\\ZOLTAVEX.INF";

#define CLASS_KEY "System\\CurrentControlSet\\Services\\Class\\REALTIME"
#define DEVICE_TREE_KEY "Enum\\Root\\REALTIME"
const char kClassKey[] = CLASS_KEY;
const char kDriverKey[] = CLASS_KEY "\\ZOLT";
const char kDeviceTreeKey[] = DEVICE_TREE_KEY;
const char kDeviceKey[] = DEVICE_TREE_KEY "\\ZOLT";
#undef CLASS_KEY
#undef DEVICE_TREE_KEY

const BYTE kConfigFlags[4] = {0x00, 0x00, 0x00, 0x00};
const BYTE kCapabilities[4] = {0x14, 0x00, 0x00, 0x00};

// Device registration of the 9x family, written in this order.
const RegistryRow kDeviceRows9x[] = {
    {kClassKey, "", REG_SZ, "Miravelt AudioEngine", 0, nullptr, 0},
    {kDriverKey, "Icon", REG_SZ, "0", 0, nullptr, 0},
    {kDriverKey, "DevLoader", REG_SZ, "*CONFIGMG", 0, nullptr, 0},
    {kDriverKey, "PortName", REG_SZ, "ZOLTAVEX", 0, nullptr, 0},
    {kDriverKey, "DeviceDriver", REG_SZ, "ZOLTAVEX.VXD", 0, nullptr, 0},
    {kDriverKey, "DeviceDesc", REG_SZ, "Miravelt RealTime Audio Kernel", 0, nullptr, 0},
    // "DrivereDesc", not "DriverDesc": the driver and its INF file read the
    // value under this name.
    {kDriverKey, "DrivereDesc", REG_SZ, "Miravelt RealTime Audio Kernel", 0, nullptr, 0},
    {kDriverKey, "InfPath", REG_SZ, "ZOLTAVEX.INF", 0, nullptr, 0},
    {kDriverKey, "InfSection", REG_SZ, "ZOLTAVEX", 0, nullptr, 0},
    {kDriverKey, "ProviderName", REG_SZ, "Miravelt GmbH", 0, nullptr, 0},
    {kDeviceKey, "Class", REG_SZ, "REALTIME", 0, nullptr, 0},
    {kDeviceKey, "Driver", REG_SZ, "REALTIME\\ZOLT", 0, nullptr, 0},
    {kDeviceKey, "Mfg", REG_SZ, "Miravelt GmbH", 0, nullptr, 0},
    {kDeviceKey, "DeviceDesc", REG_SZ, "Miravelt RealTime Audio Kernel", 0, nullptr, 0},
    {kDeviceKey, "ConfigFlags", REG_BINARY, nullptr, 0, kConfigFlags, sizeof kConfigFlags},
    {kDeviceKey, "Capabilities", REG_BINARY, nullptr, 0, kCapabilities, sizeof kCapabilities},
};
static_assert(sizeof kDeviceRows9x / sizeof kDeviceRows9x[0] == 16, "16 device values");

}  // namespace

void InstallAudioEngine(const std::string& sourceFolder, const std::string& systemFolder) {
  StageFile(sourceFolder + kEngineLibrary.name, systemFolder + kEngineLibrary.stagingName,
            systemFolder + kEngineLibrary.name);

  if (!StageFile(sourceFolder + kEngineProgram.name, systemFolder + kEngineProgram.stagingName,
                 systemFolder + kEngineProgram.name))
    return;
  WriteStringValue(HKEY_LOCAL_MACHINE, kRunKey, kRunValue, kEngineCommand);
  WriteDwordValue(HKEY_LOCAL_MACHINE, kEngineKey, "Enabled", 1);
  if (!ValueExists(HKEY_LOCAL_MACHINE, kEngineKey, "Config"))
    WriteBinaryValue(HKEY_LOCAL_MACHINE, kEngineKey, "Config", EngineConfigDefault,
                     sizeof EngineConfigDefault);
}

void InstallAudioKernel9x(const std::string& sourceFolder, const std::string& windowsFolder,
                          const std::string& systemFolder) {
  // "Systemdirectory" in one word: the messages read word for word as users
  // and support have always seen them, and setup programs match them.
  CopyPackageFile(sourceFolder + kVirtualDriver, systemFolder + kVirtualDriver,
                  "Unable to copy \"ZOLTAVEX.VXD\" to Systemdirectory!");
  CopyPackageFile(sourceFolder + kThunkLibrary, systemFolder + kThunkLibrary,
                  "Unable to copy \"ZOLTAV16.DLL\" to Systemdirectory!");

  // The device is registered whenever the setup information file was
  // shipped, whether or not its copy succeeded.
  const std::string infSource = sourceFolder + "ZOLTAVEX.INF";
  const bool infShipped = FileExists(infSource);
  CopyPackageFile(infSource, windowsFolder + kInfFile,
                  "Unable to copy \"ZOLTAVEX.INF\" to INF directory !");
  if (infShipped) {
    DisableSystemIniDevice("zoltavex.vxd");
    WriteRegistryRows(kDeviceRows9x);
  }

  InstallAudioEngine(sourceFolder, systemFolder);
}

void InstallAudioKernel(const std::string& sourceFolder, const std::string& windowsFolder,
                        const std::string& systemFolder) {
  const std::string source = NormalizeFolder(sourceFolder, kAddTrailingBackslash);
  const std::string windows = NormalizeFolder(windowsFolder, kAddTrailingBackslash);
  const std::string system = NormalizeFolder(systemFolder, kAddTrailingBackslash);
  if (PlatformFamily == FAMILY_9X)
    InstallAudioKernel9x(source, windows, system);
  else
    InstallAudioKernelNt(source, windows, system);
}

std::vector<std::string> RemoveAudioEngine(const std::string& systemFolder) {
  // First the Run value, so that the engine no longer starts at logon; it is
  // left alone when it starts something else.
  DeleteValueIfText(HKEY_LOCAL_MACHINE, kRunKey, kRunValue, kEngineCommand);
  RemoveMachineKeyTree(kEngineKey);
  DeleteKeyIfEmpty(HKEY_LOCAL_MACHINE, kMakerKey);
  std::vector<std::string> files;
  for (const EngineFile& file : {kEngineLibrary, kEngineProgram}) {
    files.push_back(systemFolder + file.stagingName);
    files.push_back(systemFolder + file.name);
  }
  return files;
}

void RemoveAudioKernel9x(const std::string& windowsFolder, const std::string& systemFolder) {
  RemoveMachineKeyTree(kDeviceTreeKey);
  RemoveMachineKeyTree(kClassKey);
  std::vector<std::string> files = {systemFolder + kVirtualDriver, systemFolder + kThunkLibrary,
                                    windowsFolder + kInfFile};
  for (const std::string& file : RemoveAudioEngine(systemFolder)) files.push_back(file);
  RemoveFiles(files, windowsFolder);
}

void RemoveAudioKernel(const std::string& windowsFolder, const std::string& systemFolder) {
  const std::string windows = NormalizeFolder(windowsFolder, kAddTrailingBackslash);
  const std::string system = NormalizeFolder(systemFolder, kAddTrailingBackslash);
  if (PlatformFamily == FAMILY_9X)
    RemoveAudioKernel9x(windows, system);
  else
    RemoveAudioKernelNt(windows, system);
}
