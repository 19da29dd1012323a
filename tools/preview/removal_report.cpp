#include "removal_report.h"

#include <nlohmann/json.hpp>
#include <ostream>
#include <sstream>

#include "installer_process.h"
#include "machine_file.h"
#include "text.h"

namespace preview {

namespace {

using text::Upper;

const char kAspiReason[] =
    "the ASPI layer and its backups: other applications reach CD-ROM drives through it";
const char kFtdiReason[] =
    "FTDI's D2XX library, driver and uninstaller: every device built on that maker's chips "
    "shares them";
const char kSystemIniReason[] =
    "SYSTEM.INI's [VCache] values and the [386Enh] lines turned into comments: the values from "
    "before the install are not known";
const char kApplicationReason[] =
    "the application folder: the host application's own uninstaller owns it";
const char kEngineSettingsReason[] =
    "the current user's engine settings, which the installer removes before its packages";
const char kStandardKeyReason[] =
    "a key every 9x registry has, made by the install only where it was missing (a Wine prefix "
    "lacks it)";
const char kWininitBackupReason[] =
    "the 9x platform keeps the Wininit.ini it carried out last under this name";

bool StartsWith(const std::string& s, const std::string& start) {
  return s.compare(0, start.size(), start) == 0;
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void Add(RemovalReport* removal, const std::string& kind, const std::string& path,
         const std::string& change) {
  StayingItem item{kind, path, change, KeepReason(kind, path, removal->applicationFolder)};
  if (item.reason.empty()) ++removal->unexplained;
  removal->stays.push_back(item);
}

std::string ValueName(const std::string& name) {
  return name.empty() ? std::string("(default)") : "\"" + name + "\"";
}

}  // namespace

std::string KeepReason(const std::string& kind, const std::string& path,
                       const std::string& applicationFolder) {
  const std::string upper = Upper(path);
  if (kind == "file") {
    std::string app = Upper(applicationFolder);
    while (!app.empty() && app.back() == '\\') app.pop_back();
    if (!app.empty() && StartsWith(upper, app + "\\")) return kApplicationReason;
    const std::string name = BaseName(upper);
    static const char* const kAspi[] = {
        "WNASPI32.DLL", "WINASPI.DLL", "ASPIENUM.VXD", "APIX.VXD", "ASPI32.SYS", "WOWPOST.EXE",
        "WNASPI32.OLD", "WINASPI.OLD", "ASPIENUM.OLD", "APIX.OLD", "ASPI32.OLD", "WOWPOST.OLD"};
    for (const char* aspi : kAspi)
      if (name == aspi) return kAspiReason;
    for (const char* ftdi : {"FTD2XX.DLL", "FTD2XXUN.EXE", "FTD2XX.SYS"})
      if (name == ftdi) return kFtdiReason;
    if (name == "WININIT.BAK") return kWininitBackupReason;
    return std::string();
  }
  if (kind == "ini")
    return BaseName(upper.substr(0, upper.find(" ["))) == "SYSTEM.INI" ? kSystemIniReason
                                                                       : std::string();
  // Keys and values.
  for (const char* aspi :
       {"\\SERVICES\\ASPI32", "\\SERVICES\\VXD\\ASPIENUM", "\\SERVICES\\VXD\\APIX"}) {
    const size_t at = upper.find(aspi);
    if (at != std::string::npos) {
      const size_t end = at + std::string(aspi).size();
      if (end == upper.size() || upper[end] == '\\' || upper[end] == ' ') return kAspiReason;
    }
  }
  if (StartsWith(upper, "HKEY_CURRENT_USER\\SOFTWARE\\MIRAVELT\\ENGINE"))
    return kEngineSettingsReason;
  if (upper == "HKEY_LOCAL_MACHINE\\ENUM" ||
      upper == "HKEY_LOCAL_MACHINE\\SYSTEM\\CURRENTCONTROLSET\\SERVICES\\CLASS")
    return kStandardKeyReason;
  return std::string();
}

void CaptureRemoval(const RunReport& install, const RegistrySnapshot& registryBeforeInstall,
                    RemovalReport* removal) {
  RunReport& r = removal->run;
  r.windowsName = install.windowsName;
  r.nineX = install.nineX;
  r.commandLine = sim::InstallerCommandLine(std::string(), sim::kRemovalPath);
  r.sourceText = install.sourceText;
  r.sourceFolder = install.sourceFolder;
  r.discs = install.discs;
  r.trace = install.trace;

  // The run as CaptureRun takes the install's, with only the removal's own
  // message boxes.
  r.before = TakeFiles();
  const RegistrySnapshot registryBefore = TakeRegistry(!r.nineX);
  const size_t boxesBefore = sim::Boxes().size();
  sim::ClearTrace();
  sim::SetCommandLine(sim::InstallerCommandLine(std::string(), sim::kRemovalPath));
  r.result = sim::RunInstallerProcess(sim::Program::Removal);
  r.callCount = sim::CallCount();
  if (r.trace) r.calls = sim::Trace();
  const std::vector<sim::Box> boxes = sim::Boxes();
  r.boxes.assign(boxes.begin() + static_cast<std::ptrdiff_t>(std::min(boxesBefore, boxes.size())),
                 boxes.end());
  r.after = TakeFiles();
  r.registry = CompareRegistry(registryBefore, !r.nineX);
  r.renames = PendingRenamesNow(r.nineX, r.after);
  sim::Restart();
  r.afterRestart = TakeFiles();
  r.renamesLeft = PendingRenamesNow(r.nineX, r.afterRestart);

  // What stays: the machine now against the one before the install.
  removal->stays.clear();
  removal->unexplained = 0;
  const FileChanges files = CompareFiles(install.before, r.afterRestart, {}, install);
  for (const FileChange& f : files.placed)
    Add(removal, "file", f.path, f.isNew ? "new" : "replaced");
  for (const FileChange& f : files.removed) Add(removal, "file", f.path, "removed");
  for (const FileChange& f : files.attributes) Add(removal, "file", f.path, "attributes");
  for (const IniChange& c : CompareIniFiles(install.before, r.afterRestart, WininitPath())) {
    for (const auto& section : c.sections) {
      for (const std::string& line : section.second)
        Add(removal, "ini", c.path + (section.first.empty() ? "" : " " + section.first), line);
    }
  }
  const RegistryChanges registry = CompareRegistry(registryBeforeInstall, !r.nineX);
  // A new key stands for everything below it.
  std::vector<std::string> newTrees;
  for (const KeyChange& k : registry.keys) {
    const std::string upper = Upper(k.path);
    bool below = false;
    for (const std::string& tree : newTrees) below = below || StartsWith(upper, tree + "\\");
    if (below) continue;
    if (k.created) {
      size_t values = 0;
      for (const KeyChange& sub : registry.keys) {
        const std::string u = Upper(sub.path);
        if (u == upper || StartsWith(u, upper + "\\")) values += sub.written.size();
      }
      newTrees.push_back(upper);
      Add(removal, "key", k.path,
          "new, with " + std::to_string(values) + (values == 1 ? " value" : " values") +
              " in its tree");
      continue;
    }
    for (const ValueChange& v : k.written)
      Add(removal, "value", k.path + " " + ValueName(v.name), v.hadOld ? "replaced" : "new");
    for (const std::string& name : k.removedValues)
      Add(removal, "value", k.path + " " + ValueName(name), "removed");
  }
  for (const std::string& key : registry.removedKeys) Add(removal, "key", key, "removed");
  for (const SecurityChange& s : registry.security) Add(removal, "access list", s.path, "changed");
}

void WriteRemovalReport(const RemovalReport& removal, std::ostream& out) {
  // The install report's form, headed by the removal program's name.
  std::ostringstream run;
  WriteReport(removal.run, run);
  std::string text = run.str();
  const std::string installer = "drvsetup.exe on";
  if (StartsWith(text, installer)) text = "drvremove.exe on" + text.substr(installer.size());
  out << "\n================ the removal, after the install and its restart ================\n\n"
      << text;

  out << "\nWhat stays after the removal and its restart, against the machine before the install ("
      << removal.stays.size() << ")\n";
  if (removal.stays.empty()) out << "  nothing: the machine is as it was\n";
  std::string reason;
  for (const StayingItem& item : removal.stays) {
    out << "  " << item.kind << " " << SafeLine(item.path) << "  " << SafeLine(item.change);
    if (item.reason.empty()) {
      out << "  [on no keep list]";
    } else if (item.reason != reason) {
      out << "\n      reason: " << item.reason;
    }
    reason = item.reason;
    out << "\n";
  }
  out << "Staying items on no keep list: " << removal.unexplained << "\n";
}

std::string JsonReportWithRemoval(const RunReport& install, const RemovalReport& removal) {
  using nlohmann::json;
  json doc = json::parse(JsonReport(install));
  json run = json::parse(JsonReport(removal.run));
  json stays = json::array();
  for (const StayingItem& item : removal.stays) {
    stays.push_back({{"kind", item.kind},
                     {"path", item.path},
                     {"change", item.change},
                     {"keptBecause", item.reason.empty() ? json() : json(item.reason)}});
  }
  run["stays"] = stays;
  run["unexplained"] = removal.unexplained;
  doc["removal"] = run;
  return doc.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace preview
