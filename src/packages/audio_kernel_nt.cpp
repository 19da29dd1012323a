// The NT family branch of the realtime audio kernel package: the kernel
// driver, and its device setup class, driver instance, root-enumerated device
// and service keys, written while Everyone may change the device tree.
#include "file_placement.h"
#include "key_access.h"
#include "messages.h"
#include "packages.h"
#include "registry_writers.h"

namespace {

const char kEnumRoot[] = "SYSTEM\\CurrentControlSet\\Enum\\Root\\";
const char kPermissionMessage[] = "Unable to set permission for \"HKLM\\System\\Enum\\Root\" !";

#define REALTIME_CLASS_GUID "{6B1F0A52-9D37-4C8E-A2F4-5E70C3D91B68}"

const char kClassKey[] = "SYSTEM\\CurrentControlSet\\Control\\Class\\" REALTIME_CLASS_GUID;
const char kDriverKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\" REALTIME_CLASS_GUID "\\0000";
const char kDeviceKey[] = "SYSTEM\\CurrentControlSet\\Enum\\Root\\REALTIME\\0000";
const char kDeviceParametersKey[] =
    "SYSTEM\\CurrentControlSet\\Enum\\Root\\REALTIME\\0000\\Device Parameters";
const char kLogConfKey[] = "SYSTEM\\CurrentControlSet\\Enum\\Root\\REALTIME\\0000\\LogConf";
const char kControlKey[] = "SYSTEM\\CurrentControlSet\\Enum\\Root\\REALTIME\\0000\\Control";
const char kServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\ZOLTAVEX";
const char kServiceEnumKey[] = "SYSTEM\\CurrentControlSet\\Services\\ZOLTAVEX\\Enum";

// A one-entry REG_MULTI_SZ: the id, its zero, and the list's closing zero.
const char kHardwareId[] = "*miravelt\\zoltavex\0";
static_assert(sizeof kHardwareId == 20, "hardware id list is 20 bytes");
// A REG_EXPAND_SZ path with its terminating zero.
const char kImagePath[] = "system32\\drivers\\zoltavex.sys";
static_assert(sizeof kImagePath == 30, "image path is 30 bytes");

const DWORD SERVICE_KERNEL_DRIVER_TYPE = 1;
const DWORD SERVICE_BOOT_START_TYPE = 0;
const DWORD SERVICE_ERROR_NORMAL_CONTROL = 1;

// Device registration of the NT family, written in this order.
const RegistryRow kDeviceRowsNt[] = {
    {kClassKey, "", REG_SZ, "Miravelt AudioEngine", 0, nullptr, 0},
    {kClassKey, "Class", REG_SZ, "REALTIME", 0, nullptr, 0},
    {kClassKey, "Icon", REG_SZ, "0", 0, nullptr, 0},
    {kDriverKey, "InfPath", REG_SZ, "zoltavex.inf", 0, nullptr, 0},
    {kDriverKey, "InfSection", REG_SZ, "ZOLTAVEX", 0, nullptr, 0},
    {kDriverKey, "InfSectionExt", REG_SZ, ".NTx86", 0, nullptr, 0},
    {kDriverKey, "ProviderName", REG_SZ, "MIRAVELT", 0, nullptr, 0},
    {kDriverKey, "MatchingDeviceId", REG_SZ, "*miravelt\\zoltavex", 0, nullptr, 0},
    {kDriverKey, "DriverDesc", REG_SZ, "MIRAVELT Realtime Audio Kernel", 0, nullptr, 0},
    {kDeviceKey, "ClassGUID", REG_SZ, REALTIME_CLASS_GUID, 0, nullptr, 0},
    {kDeviceKey, "HardwareID", REG_MULTI_SZ, nullptr, 0, kHardwareId, sizeof kHardwareId},
    {kDeviceKey, "FriendlyName", REG_SZ, "Miravelt Realtime Audio Kernel", 0, nullptr, 0},
    {kDeviceKey, "Class", REG_SZ, "REALTIME", 0, nullptr, 0},
    {kDeviceKey, "Mfg", REG_SZ, "MIRAVELT", 0, nullptr, 0},
    {kDeviceKey, "Service", REG_SZ, "ZOLTAVEX", 0, nullptr, 0},
    {kDeviceKey, "DeviceDesc", REG_SZ, "Miravelt Realtime Audio Kernel", 0, nullptr, 0},
    {kDeviceKey, "ConfigFlags", REG_DWORD, nullptr, 0, nullptr, 0},
    {kDeviceKey, "Capabilities", REG_DWORD, nullptr, 0, nullptr, 0},
    {kDeviceKey, "Driver", REG_SZ, REALTIME_CLASS_GUID "\\0000", 0, nullptr, 0},
    {kDeviceParametersKey, "", REG_SZ, "", 0, nullptr, 0},
    {kLogConfKey, "", REG_SZ, "", 0, nullptr, 0},
    {kControlKey, "ActiveService", REG_SZ, "ZOLTAVEX", 0, nullptr, 0},
    {kServiceKey, "Type", REG_DWORD, nullptr, SERVICE_KERNEL_DRIVER_TYPE, nullptr, 0},
    {kServiceKey, "Start", REG_DWORD, nullptr, SERVICE_BOOT_START_TYPE, nullptr, 0},
    {kServiceKey, "ErrorControl", REG_DWORD, nullptr, SERVICE_ERROR_NORMAL_CONTROL, nullptr, 0},
    {kServiceKey, "ImagePath", REG_EXPAND_SZ, nullptr, 0, kImagePath, sizeof kImagePath},
    {kServiceEnumKey, "0", REG_SZ, "Root\\REALTIME\\0000", 0, nullptr, 0},
    {kServiceEnumKey, "Count", REG_DWORD, nullptr, 1, nullptr, 0},
    {kServiceEnumKey, "NextInstance", REG_DWORD, nullptr, 1, nullptr, 0},
};
static_assert(sizeof kDeviceRowsNt / sizeof kDeviceRowsNt[0] == 29, "29 device values");

#undef REALTIME_CLASS_GUID

}  // namespace

void InstallAudioKernelNt(const std::string& sourceFolder, const std::string& windowsFolder,
                          const std::string& systemFolder) {
  // "Systemdirectory" in one word: the messages read word for word as users
  // and support have always seen them, and setup programs match them.
  CopyPackageFile(sourceFolder + "ZOLTAVEX.SYS", systemFolder + "DRIVERS\\ZOLTAVEX.SYS",
                  "Unable to copy \"ZOLTAVEX.SYS\" to Systemdirectory!");
  CopyPackageFile(sourceFolder + "ZOLTAVEX.INF", windowsFolder + "INF\\ZOLTAVEX.INF",
                  "Unable to copy \"ZOLTAVEX.INF\" to INF directory !");

  // Everyone may change the device tree only while the device is written;
  // its own access list is put back afterwards.
  TemporaryKeyGrant grant;
  grant.failureMessage = kPermissionMessage;
  BeginTemporaryKeyGrant(HKEY_LOCAL_MACHINE, kEnumRoot, GENERIC_ALL, grant);
  WriteRegistryRows(kDeviceRowsNt);
  EndTemporaryKeyGrant(grant);

  InstallAudioEngine(sourceFolder, systemFolder);
}
