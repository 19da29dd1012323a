#include "installer_process.h"

#include "drvsetup.h"
#include "guard.h"
#include "platform_family.h"
#include "run.h"

namespace sim {

namespace {

// One user's engine settings, as the host application leaves them.
void PutEngineSettings(const std::string& userKey) {
  const std::string engine = userKey + "\\Software\\Miravelt\\Engine";
  RegPutString(HKEY_USERS, engine, "Device", "Default");
  RegPutDword(HKEY_USERS, engine, "Latency", 256);
  RegPutString(HKEY_USERS, engine + "\\Audio", "Driver", "ZOLTAVEX");
  RegPutDword(HKEY_USERS, engine + "\\Audio\\Channels", "Inputs", 2);
  RegPutDword(HKEY_USERS, engine + "\\Audio\\Channels", "Outputs", 2);
  RegPutKey(HKEY_USERS, engine + "\\Midi");
  RegPut(HKEY_USERS, engine + "\\Recent", "List", REG_MULTI_SZ, std::string("song.orv\0\0", 10));
}

// On the NT family the keys a user's program makes in the user's own tree
// belong to that user.
void OwnBelow(const std::string& key, const std::string& owner) {
  KeySecurity security = GetKeySecurity(HKEY_USERS, key);
  security.owner = owner;
  SetKeySecurity(HKEY_USERS, key, security);
  for (const std::string& sub : RegSubkeys(HKEY_USERS, key)) OwnBelow(key + "\\" + sub, owner);
}

}  // namespace

const char* const kInstallerPath = "C:\\SETUP\\DRVSETUP.EXE";

std::string InstallerCommandLine(const std::string& arguments, const std::string& installerPath) {
  std::string line = "\"" + installerPath + "\"";
  if (!arguments.empty()) line += " " + arguments;
  return line;
}

RunResult RunInstallerProcess() {
  PlatformFamily = 0;
  PlatformMajorVersion = 0;
  HostApplicationFound = false;
  return Run(RunSetup);
}

void PutHostEngineSettings() {
  const std::string user = CurrentUserSid();
  std::string other = "guest";
  for (const std::string& name : RegSubkeys(HKEY_USERS, "")) {
    if (name != user && name != ".DEFAULT") other = name;
  }
  for (const std::string& userKey : {user, other}) {
    PutEngineSettings(userKey);
    if (!Is9x(Version())) {
      OwnBelow(userKey + "\\Software\\Miravelt", GetKeySecurity(HKEY_USERS, userKey).owner);
    }
  }
}

}  // namespace sim
