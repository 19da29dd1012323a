// The realtime audio kernel package: its entry, the engine files shared by
// both families, and the 9x family branch (virtual device driver, thunk
// library, class and hardware trees of the 9x registry).
#include "file_placement.h"
#include "packages.h"
#include "platform_family.h"
#include "registry_writers.h"
#include "system_ini.h"

const BYTE EngineConfigDefault[16] = {0x3A, 0x7C, 0x51, 0xE9, 0xB2, 0x06, 0x11, 0xD4,
                                      0x8F, 0x2D, 0x02, 0x4B, 0x7E, 0x19, 0xC3, 0x58};

namespace {

const char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kEngineKey[] = "Software\\Miravelt\\ZOLTAVEX";

const char kClassKey[] = "System\\CurrentControlSet\\Services\\Class\\REALTIME";
const char kDriverKey[] = "System\\CurrentControlSet\\Services\\Class\\REALTIME\\ZOLT";
const char kDeviceKey[] = "Enum\\Root\\REALTIME\\ZOLT";

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
  StageFile(sourceFolder + "ZOLTAVEX.DLL", systemFolder + "ZOLTAVEX.DL",
            systemFolder + "ZOLTAVEX.DLL");

  if (!StageFile(sourceFolder + "ZOLTAVEX.EXE", systemFolder + "ZOLTAVEX.EX",
                 systemFolder + "ZOLTAVEX.EXE"))
    return;
  WriteStringValue(HKEY_LOCAL_MACHINE, kRunKey, "Realtime Audio Engine", "zoltavex.exe");
  WriteDwordValue(HKEY_LOCAL_MACHINE, kEngineKey, "Enabled", 1);
  if (!ValueExists(HKEY_LOCAL_MACHINE, kEngineKey, "Config"))
    WriteBinaryValue(HKEY_LOCAL_MACHINE, kEngineKey, "Config", EngineConfigDefault,
                     sizeof EngineConfigDefault);
}

void InstallAudioKernel9x(const std::string& sourceFolder, const std::string& windowsFolder,
                          const std::string& systemFolder) {
  // "Systemdirectory" in one word: the messages read word for word as users
  // and support have always seen them, and setup programs match them.
  CopyPackageFile(sourceFolder + "ZOLTAVEX.VXD", systemFolder + "ZOLTAVEX.VXD",
                  "Unable to copy \"ZOLTAVEX.VXD\" to Systemdirectory!");
  CopyPackageFile(sourceFolder + "ZOLTAV16.DLL", systemFolder + "ZOLTAV16.DLL",
                  "Unable to copy \"ZOLTAV16.DLL\" to Systemdirectory!");

  // The device is registered whenever the setup information file was
  // shipped, whether or not its copy succeeded.
  const std::string infSource = sourceFolder + "ZOLTAVEX.INF";
  const bool infShipped = FileExists(infSource);
  CopyPackageFile(infSource, windowsFolder + "INF\\ZOLTAVEX.INF",
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
