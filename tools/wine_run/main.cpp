// drvsetup-wine-run: the real drvsetup.exe under Wine on the preview's sample
// (the same source folder, disc, application folder and document name), in a
// fresh prefix, with a report of what the run did; with --remove then the
// real drvremove.exe in the same prefix after the install's restart, with
// what it did and what stays against the prefix before the install; or,
// with --time, the wall time of a run against the wall time of an empty
// program in the same prefix.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "host_files.h"
#include "preview.h"
#include "removal_report.h"
#include "report.h"
#include "sample.h"
#include "text.h"
#include "wine_prefix.h"

namespace {

namespace fs = std::filesystem;
using winehost::WinePrefix;

const char kProgram[] = "drvsetup-wine-run";
const char kInstaller[] = "C:\\SETUP\\DRVSETUP.EXE";
const char kRemover[] = "C:\\SETUP\\DRVREMOVE.EXE";
const char kSourceFolder[] = "C:\\SETUP";

const char kUsage[] =
    "Usage: drvsetup-wine-run [--family 9x|nt] [--remove | --time RUNS]\n"
    "Runs the real drvsetup.exe under Wine in a fresh prefix on the sample that\n"
    "drvsetup-preview runs by default, and reports what the run did. The family\n"
    "sets Wine's version: 9x is win98, nt is winxp (default nt).\n"
    "  --remove     after the install and its restart, run drvremove.exe in the\n"
    "               same prefix, restart again, and report what the removal did\n"
    "               and what stays against the prefix before the install\n"
    "  --time RUNS  instead of the report: the median wall time of RUNS runs of\n"
    "               drvsetup.exe and of an empty program in the same prefix, and\n"
    "               their ratio; then the same against an empty program that\n"
    "               imports the DLLs drvsetup.exe imports\n"
    "The Windows programs come from DRVSETUP_WIN64_DIR (default: build/win64).\n";

using text::Upper;

// ------------------------------------------------------------ the prefix

bool PrepareSample(WinePrefix& p, bool nineX, bool remove, std::string* error) {
  if (!p.SetVersion(nineX ? "win98" : "winxp")) {
    *error = "cannot set the Windows version";
    return false;
  }
  std::string disc = p.AddDrive(preview::SampleDiscDrive(), "cdrom");
  if (disc.empty()) {
    *error = "cannot add the CD-ROM drive";
    return false;
  }
  for (const preview::SampleFile& f : preview::SampleDiscFiles()) {
    std::string path = std::string(1, preview::SampleDiscDrive()) + ":\\" + f.path;
    if (!p.PutFile(path, f.data)) {
      *error = "cannot place " + path;
      return false;
    }
  }
  for (const preview::SampleFile& f : preview::SampleSourceFiles()) {
    if (!p.PutFile(std::string(kSourceFolder) + "\\" + f.path, f.data)) {
      *error = "cannot place " + f.path;
      return false;
    }
  }
  for (const preview::SampleFile& f : preview::SampleApplicationFiles()) {
    p.PutFile(preview::SampleApplicationFolder() + "\\" + f.path, f.data);
  }
  if (!p.PlaceProgram("drvsetup.exe", kInstaller)) {
    *error = "cannot place drvsetup.exe";
    return false;
  }
  if (remove && !p.PlaceProgram("drvremove.exe", kRemover)) {
    *error = "cannot place drvremove.exe";
    return false;
  }
  // Wine ships an ASPI library of its own; the sample machine has none.
  p.Remove("C:\\windows\\system32\\wnaspi32.dll");
  // Folders every Windows has and a 64-bit Wine prefix lacks.
  p.MakeFolder("C:\\windows\\system");
  if (nineX) p.MakeFolder("C:\\windows\\system32\\iosubsys");
  // The engine settings the host application leaves for the current user.
  p.PresetValue("HKCU\\Software\\Miravelt\\Engine", "Device", winehost::kRegSz,
                winehost::SzBytes("Default"));
  p.PresetValue("HKCU\\Software\\Miravelt\\Engine\\Audio", "Driver", winehost::kRegSz,
                winehost::SzBytes("ZOLTAVEX"));
  p.PresetValue("HKCU\\Software\\Miravelt\\Engine\\Audio\\Channels", "Outputs", winehost::kRegDword,
                winehost::DwordBytes(2));
  if (!p.StartSession()) {
    *error = "the Wine session did not start";
    return false;
  }
  return true;
}

// ------------------------------------------------------------ files

struct HostFile {
  std::string winPath;
  std::string host;
  uintmax_t size = 0;
  fs::file_time_type time;
};
typedef std::map<std::string, HostFile> HostFiles;  // by upper-cased Windows path

// Every file of drive C:, through the host (links are not followed).
HostFiles ListDriveC(const WinePrefix& p) {
  HostFiles files;
  fs::path root = p.HostPath("C:\\");
  std::error_code ec;
  fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    if (it->is_symlink(ec)) {
      if (it->is_directory(ec)) it.disable_recursion_pending();
      continue;
    }
    if (!it->is_regular_file(ec)) continue;
    HostFile f;
    f.host = it->path().string();
    f.winPath = "C:";
    for (const fs::path& part : it->path().lexically_relative(root)) {
      f.winPath += "\\" + part.string();
    }
    f.size = it->file_size(ec);
    f.time = it->last_write_time(ec);
    files[Upper(f.winPath)] = f;
  }
  return files;
}

std::string Origin(const std::string& data) {
  for (const preview::SampleFile& f : preview::SampleSourceFiles()) {
    if (f.data == data) return ", from " + std::string(kSourceFolder) + "\\" + f.path;
  }
  for (const preview::SampleFile& f : preview::SampleDiscFiles()) {
    if (f.data == data) {
      return ", from " + std::string(1, preview::SampleDiscDrive()) + ":\\" + f.path;
    }
  }
  return std::string();
}

std::string FileData(const std::string& host) {
  std::string data;
  winehost::ReadHostFile(host, &data);
  return data;
}

bool IsIni(const std::string& upper) {
  return upper.size() > 4 && upper.compare(upper.size() - 4, 4, ".INI") == 0;
}

struct Listed {
  std::string path, what;
};

void PrintList(const std::string& title, const std::vector<Listed>& list,
               const std::string& indent = "  ") {
  std::cout << "\n" << title << " (" << list.size() << ")\n";
  if (list.empty()) std::cout << indent << "none\n";
  size_t width = 0;
  for (const Listed& l : list) width = std::max(width, std::min<size_t>(l.path.size(), 56));
  for (const Listed& l : list) {
    std::cout << indent << l.path;
    if (!l.what.empty()) {
      std::cout << std::string(l.path.size() < width ? width - l.path.size() : 0, ' ') << "  "
                << l.what;
    }
    std::cout << "\n";
  }
}

// New and changed files (INI files apart), split into staged ones (the
// source of a pending rename) and the others, and the removed ones.
void CompareFiles(const HostFiles& before, const HostFiles& after,
                  const std::map<std::string, std::string>& stagedTo, std::vector<Listed>* placed,
                  std::vector<Listed>* staged, std::vector<Listed>* removed) {
  for (const auto& f : after) {
    if (IsIni(f.first)) continue;
    auto b = before.find(f.first);
    if (b != before.end() && b->second.size == f.second.size && b->second.time == f.second.time) {
      continue;
    }
    std::string what = std::string(b == before.end() ? "new" : "replaced") + ", " +
                       std::to_string(f.second.size) + " bytes" + Origin(FileData(f.second.host));
    auto s = stagedTo.find(f.first);
    if (s != stagedTo.end()) {
      staged->push_back({f.second.winPath, what + "; becomes " + s->second + " at the restart"});
    } else {
      placed->push_back({f.second.winPath, what});
    }
  }
  for (const auto& f : before) {
    if (!IsIni(f.first) && after.count(f.first) == 0) removed->push_back({f.second.winPath, ""});
  }
}

// ------------------------------------------------------------ registry

const char* const kKeys[] = {
    "HKLM\\System\\CurrentControlSet\\Services",
    "HKLM\\System\\CurrentControlSet\\Control\\Class",
    "HKLM\\System\\CurrentControlSet\\Enum\\Root",
    "HKLM\\Enum",
    "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
    "HKLM\\Software\\Miravelt",
    "HKCU\\Software\\Miravelt",
};

std::string FullKey(const std::string& base, const std::string& rel) {
  std::string root = base.compare(0, 4, "HKLM") == 0 ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
  std::string key = root + base.substr(4);
  return rel.empty() ? key : key + "\\" + rel;
}

std::map<std::string, winehost::RegTree> DumpRegistry(WinePrefix& p) {
  std::map<std::string, winehost::RegTree> trees;
  for (const char* key : kKeys) trees[key] = p.DumpKey(key);
  return trees;
}

void PrintRegistry(const std::map<std::string, winehost::RegTree>& before,
                   const std::map<std::string, winehost::RegTree>& after) {
  std::vector<std::string> lines, removed;
  size_t written = 0;
  for (const char* base : kKeys) {
    const winehost::RegTree& b = before.at(base);
    const winehost::RegTree& a = after.at(base);
    for (const std::string& rel : a.keys) {
      bool created = !b.HasKey(rel);
      std::vector<std::string> values;
      auto now = a.values.find(rel);
      if (now != a.values.end()) {
        for (const auto& v : now->second) {
          const winehost::RegValue* old = b.Value(rel, v.first);
          if (old && old->type == v.second.type && old->data == v.second.data) continue;
          sim::Value value;
          value.type = v.second.type;
          value.data = v.second.data;
          std::string line = "    " +
                             (v.first.empty() ? std::string("(default)") : "\"" + v.first + "\"") +
                             " = " + preview::ValueText(value);
          if (old) {
            sim::Value was;
            was.type = old->type;
            was.data = old->data;
            line += "  (was " + preview::ValueText(was) + ")";
          }
          values.push_back(line);
        }
      }
      if (created || !values.empty()) {
        lines.push_back("  " + FullKey(base, rel) + (created ? "  (new key)" : ""));
        lines.insert(lines.end(), values.begin(), values.end());
        written += values.size();
      }
    }
    std::set<std::string> gone;
    for (const std::string& rel : b.keys) {
      if (a.HasKey(rel)) continue;
      size_t slash = rel.find_last_of('\\');
      std::string parent = slash == std::string::npos ? std::string() : rel.substr(0, slash);
      bool parentGone = !rel.empty() && (parent.empty() ? !a.exists : gone.count(parent) > 0);
      gone.insert(rel);
      if (!parentGone) removed.push_back("  " + FullKey(base, rel));
    }
  }
  std::cout << "\nRegistry values written (" << written << ")\n";
  if (lines.empty()) std::cout << "  none\n";
  for (const std::string& l : lines) std::cout << l << "\n";
  if (!removed.empty()) {
    std::cout << "\nRegistry keys removed (" << removed.size() << ")\n";
    for (const std::string& l : removed) std::cout << l << "\n";
  }
}

// ------------------------------------------------------------ renames

struct Rename {
  std::string from, to;
};

std::vector<Rename> PendingNow(WinePrefix& p, bool nineX) {
  std::vector<Rename> renames;
  if (!nineX) {
    for (const winehost::PendingRename& r : p.PendingRenames()) {
      Rename x;
      x.from = r.from.compare(0, 4, "\\??\\") == 0 ? r.from.substr(4) : r.from;
      x.to = r.to.compare(0, 4, "\\??\\") == 0 ? r.to.substr(4) : r.to;
      renames.push_back(x);
    }
    return renames;
  }
  std::string text = p.FileText("C:\\windows\\wininit.ini");
  for (const std::string& line : winehost::IniSectionLines(text, "rename")) {
    size_t eq = line.find('=');
    if (eq == std::string::npos || line.empty() || line[0] == ';') continue;
    std::string to = line.substr(0, eq);
    renames.push_back({line.substr(eq + 1), Upper(to) == "NUL" ? std::string() : to});
  }
  return renames;
}

std::string RenameText(const Rename& r) {
  return r.to.empty() ? "delete " + r.from : r.from + "  ->  " + r.to;
}

// The renames a run left, then the restart that carries them out and what
// it leaves pending.
void PrintRenamesAndRestart(WinePrefix& p, bool nineX, const std::vector<Rename>& renames) {
  std::cout << "\nRenames pending for the restart (" << renames.size() << ", "
            << (nineX ? "Wininit.ini [RENAME]" : "PendingFileRenameOperations") << ")\n";
  if (renames.empty()) std::cout << "  none\n";
  for (size_t i = 0; i < renames.size(); ++i)
    std::cout << "  " << i + 1 << ". " << RenameText(renames[i]) << "\n";

  std::cout << "\nAfter the restart (wineboot -r)\n";
  if (!p.Restart()) std::cout << "  the restart failed\n";
  std::vector<Rename> left = PendingNow(p, nineX);
  std::cout << "  renames still pending: " << (left.empty() ? "none" : std::to_string(left.size()))
            << "\n";
  for (const Rename& r : left) std::cout << "    " << RenameText(r) << "\n";
}

// ------------------------------------------------------------ the report

// The prefix before the install, for what stays after a removal.
struct BeforeInstall {
  HostFiles files;
  std::string systemIni;
  std::map<std::string, winehost::RegTree> registry;
};

int Report(WinePrefix& p, bool nineX, BeforeInstall* beforeInstall) {
  const std::string commandLine = "\"" + std::string(kInstaller) + "\" \"" +
                                  preview::SampleApplicationFolder() + "\" \"" +
                                  preview::SampleDocumentName() + "\"";
  std::cout << "drvsetup.exe under Wine (" << (nineX ? "win98, 9x family" : "winxp, NT family")
            << ")\n"
            << "  prefix         a fresh copy of the template, " << p.Prefix() << "\n"
            << "  source folder  " << kSourceFolder << "\\ holds the sample package files\n"
            << "  CD-ROM drive   " << preview::SampleDiscDrive() << ": the sample disc\n"
            << "  command line   " << commandLine << "\n"
            << "  made first     no wnaspi32.dll (Wine ships one; the sample machine has none);\n"
            << "                 the folders C:\\windows\\system"
            << (nineX ? " and C:\\windows\\system32\\iosubsys" : "") << ", which Windows has\n"
            << "                 and a Wine prefix lacks\n";
  if (nineX) {
    std::cout
        << "  note           Wine keeps C:\\windows\\system32 as the system folder on win98,\n"
        << "                 so the 9x drivers folder is C:\\windows\\system3232\\Drivers\n";
  }

  const std::string systemIni = "C:\\windows\\system.ini";
  HostFiles filesBefore = ListDriveC(p);
  std::string iniBefore = p.FileText(systemIni);
  auto registryBefore = DumpRegistry(p);
  if (beforeInstall) *beforeInstall = {filesBefore, iniBefore, registryBefore};

  winehost::RelayTrace trace;
  winehost::RunResult run = p.RunCommandLineTraced(commandLine, kInstaller, &trace);

  HostFiles filesAfter = ListDriveC(p);
  std::string iniAfter = p.FileText(systemIni);
  auto registryAfter = DumpRegistry(p);
  std::vector<Rename> renames = PendingNow(p, nineX);

  std::vector<winehost::MessageBoxCall> boxes = winehost::MessageBoxes(trace);
  std::cout << "\nMessage boxes (" << boxes.size() << ")\n";
  if (!trace.found) std::cout << "  (the call trace of the run could not be read)\n";
  if (boxes.empty()) std::cout << "  none\n";
  for (size_t i = 0; i < boxes.size(); ++i) {
    std::cout << "  " << i + 1 << ". [" << boxes[i].caption << "] " << boxes[i].text << "\n";
  }

  std::map<std::string, std::string> stagedTo;
  for (const Rename& r : renames) stagedTo[Upper(r.from)] = r.to;
  std::vector<Listed> placed, staged, removed;
  CompareFiles(filesBefore, filesAfter, stagedTo, &placed, &staged, &removed);
  PrintList("Files placed", placed);
  PrintList("Files staged, named at the restart", staged);
  PrintList("Files removed", removed);

  PrintRegistry(registryBefore, registryAfter);

  std::vector<std::string> ini = preview::IniDifferences(iniBefore, iniAfter);
  std::cout << "\nINI entries changed\n";
  if (ini.empty()) std::cout << "  none\n";
  if (!ini.empty()) std::cout << "  " << systemIni << "\n";
  for (const std::string& line : ini) {
    std::cout << (line[0] == '[' ? "    " : "      ") << line << "\n";
  }

  PrintRenamesAndRestart(p, nineX, renames);
  HostFiles filesRestart = ListDriveC(p);
  std::vector<Listed> placedR, stagedR, removedR;
  CompareFiles(filesBefore, filesRestart, {}, &placedR, &stagedR, &removedR);
  PrintList("  Files new or replaced since before the run", placedR, "    ");
  PrintList("  Files gone since before the run", removedR, "    ");

  std::cout << "\nPlatform calls made: " << trace.calls.size() << " (the relay trace)\n";
  if (run.timedOut) {
    std::cout << "Exit code: none (the run was stopped: it did not end)\n";
    return 1;
  }
  std::cout << "Exit code: " << run.exitCode << "\n";
  return run.exitCode == 0 || run.exitCode == 1 ? 0 : 1;
}

// ------------------------------------------------------------ the removal

// One line of what stays, with the reason from the keep list.
void PrintStaying(const std::string& kind, const std::string& path, const std::string& change,
                  size_t* unexplained) {
  const std::string reason = preview::KeepReason(kind, path, preview::SampleApplicationFolder());
  std::cout << "  " << kind << " " << path << "  " << change;
  if (reason.empty()) {
    std::cout << "  [on no keep list]";
    ++*unexplained;
  } else {
    std::cout << "\n      reason: " << reason;
  }
  std::cout << "\n";
}

// drvremove.exe on the installed prefix (after the install's restart): what
// it did, the restart, and what stays against the prefix before the install.
int ReportRemoval(WinePrefix& p, bool nineX, const BeforeInstall& beforeInstall) {
  const std::string commandLine = "\"" + std::string(kRemover) + "\"";
  std::cout << "\n================ drvremove.exe under Wine, after the install and its "
               "restart ================\n"
            << "  command line   " << commandLine << "\n";
  const std::string systemIni = "C:\\windows\\system.ini";
  HostFiles filesBefore = ListDriveC(p);
  auto registryBefore = DumpRegistry(p);

  winehost::RelayTrace trace;
  winehost::RunResult run = p.RunCommandLineTraced(commandLine, kRemover, &trace);

  HostFiles filesAfter = ListDriveC(p);
  auto registryAfter = DumpRegistry(p);
  std::vector<Rename> renames = PendingNow(p, nineX);

  std::vector<winehost::MessageBoxCall> boxes = winehost::MessageBoxes(trace);
  std::cout << "\nMessage boxes (" << boxes.size() << ")\n";
  if (!trace.found) std::cout << "  (the call trace of the run could not be read)\n";
  if (boxes.empty()) std::cout << "  none\n";
  for (size_t i = 0; i < boxes.size(); ++i)
    std::cout << "  " << i + 1 << ". [" << boxes[i].caption << "] " << boxes[i].text << "\n";

  std::vector<Listed> placed, staged, removed;
  CompareFiles(filesBefore, filesAfter, {}, &placed, &staged, &removed);
  PrintList("Files removed", removed);
  if (!placed.empty()) PrintList("Files placed", placed);
  PrintRegistry(registryBefore, registryAfter);
  PrintRenamesAndRestart(p, nineX, renames);

  // What stays: the prefix now against the one before the install.
  HostFiles filesNow = ListDriveC(p);
  auto registryNow = DumpRegistry(p);
  std::vector<Listed> newer, unused, gone;
  CompareFiles(beforeInstall.files, filesNow, {}, &newer, &unused, &gone);
  size_t unexplained = 0;
  std::cout << "\nWhat stays after the removal and its restart, against the prefix before the "
               "install\n";
  for (const Listed& f : newer)
    PrintStaying("file", f.path, f.what.substr(0, f.what.find(',')), &unexplained);
  for (const Listed& f : gone) PrintStaying("file", f.path, "removed", &unexplained);
  const std::vector<std::string> ini =
      preview::IniDifferences(beforeInstall.systemIni, p.FileText(systemIni));
  std::string section;
  for (const std::string& line : ini) {
    if (line[0] == '[') {
      section = " " + line;
      continue;
    }
    PrintStaying("ini", systemIni + section, line, &unexplained);
  }
  for (const char* base : kKeys) {
    const winehost::RegTree& b = beforeInstall.registry.at(base);
    const winehost::RegTree& a = registryNow.at(base);
    std::set<std::string> newKeys;
    for (const std::string& rel : a.keys) {
      bool below = false;
      for (const std::string& k : newKeys)
        below = below || k.empty() || rel.compare(0, k.size() + 1, k + "\\") == 0;
      if (below) continue;
      if (!b.HasKey(rel)) {
        newKeys.insert(rel);
        PrintStaying("key", FullKey(base, rel), "new", &unexplained);
        continue;
      }
      auto now = a.values.find(rel);
      if (now == a.values.end()) continue;
      for (const auto& v : now->second) {
        const winehost::RegValue* old = b.Value(rel, v.first);
        if (old && old->type == v.second.type && old->data == v.second.data) continue;
        PrintStaying("value", FullKey(base, rel) + " \"" + v.first + "\"", old ? "replaced" : "new",
                     &unexplained);
      }
    }
    for (const std::string& rel : b.keys) {
      if (a.HasKey(rel)) continue;
      const size_t slash = rel.find_last_of('\\');
      if (slash != std::string::npos && !a.HasKey(rel.substr(0, slash))) continue;
      PrintStaying("key", FullKey(base, rel), "removed", &unexplained);
    }
  }
  std::cout << "Staying items on no keep list: " << unexplained << "\n";

  std::cout << "\nPlatform calls made: " << trace.calls.size() << " (the relay trace)\n";
  if (run.timedOut) {
    std::cout << "Exit code: none (the run was stopped: it did not end)\n";
    return 1;
  }
  std::cout << "Exit code: " << run.exitCode << "\n";
  return run.exitCode == 0 || run.exitCode == 1 ? 0 : 1;
}

// ------------------------------------------------------------ timing

double Seconds(WinePrefix& p, const std::string& exe, const std::vector<std::string>& args,
               bool* ok) {
  auto start = std::chrono::steady_clock::now();
  winehost::RunResult r = p.Run(exe, args);
  auto end = std::chrono::steady_clock::now();
  if (r.timedOut || (r.exitCode != 0 && r.exitCode != 1)) *ok = false;
  return std::chrono::duration<double>(end - start).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

int Time(WinePrefix& p, int runs) {
  const std::string empty = "C:\\SETUP\\EMPTY.EXE";
  const std::string emptyImports = "C:\\SETUP\\EMPTYIMP.EXE";
  if (!p.PlaceProgram("empty.exe", empty) || !p.PlaceProgram("empty_imports.exe", emptyImports)) {
    std::cerr << kProgram << ": cannot place empty.exe and empty_imports.exe\n";
    return 1;
  }
  const std::vector<std::string> args = {preview::SampleApplicationFolder(),
                                         preview::SampleDocumentName()};
  bool ok = true;
  // One run of each first: the session's caches are then warm for all three.
  Seconds(p, kInstaller, args, &ok);
  Seconds(p, empty, {}, &ok);
  Seconds(p, emptyImports, {}, &ok);
  std::vector<double> installer, program, withImports;
  for (int i = 0; i < runs; ++i) {
    installer.push_back(Seconds(p, kInstaller, args, &ok));
    program.push_back(Seconds(p, empty, {}, &ok));
    withImports.push_back(Seconds(p, emptyImports, {}, &ok));
  }
  if (!ok) {
    std::cerr << kProgram << ": a timed run failed\n";
    return 1;
  }
  double a = Median(installer), b = Median(program), c = Median(withImports);
  // The second line separates the installer's own work from the cost of
  // loading the DLLs it imports, which under Wine is mostly USER32's start.
  std::printf("drvsetup.exe %.4f s, empty program %.4f s, ratio %.3f (median of %d runs)\n", a, b,
              a / b, runs);
  std::printf("empty program with the installer's imports %.4f s: drvsetup.exe against it %.3f\n",
              c, a / c);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool nineX = false;
  bool remove = false;
  int runs = 0;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::cout << kUsage;
      return 0;
    } else if (arg == "--family" && i + 1 < argc &&
               (std::string(argv[i + 1]) == "9x" || std::string(argv[i + 1]) == "nt")) {
      nineX = std::string(argv[++i]) == "9x";
    } else if (arg == "--remove" && runs == 0) {
      remove = true;
    } else if (arg == "--time" && !remove && i + 1 < argc && std::atoi(argv[i + 1]) > 0 &&
               std::atoi(argv[i + 1]) <= 1000) {
      runs = std::atoi(argv[++i]);
    } else {
      std::cerr << kProgram << ": bad option \"" << arg << "\"\n"
                << "Try '" << kProgram << " --help' for the options.\n";
      return 2;
    }
  }
  if (!winehost::WineInstalled()) {
    std::cerr << kProgram << ": Wine is not installed (no wine or wineserver on PATH)\n";
    return 2;
  }
  std::string missing;
  if (!winehost::ProgramsBuilt(&missing)) {
    std::cerr << kProgram << ": missing in " << winehost::ProgramsDir() << ": " << missing
              << " (build the win64 preset)\n";
    return 2;
  }
  WinePrefix prefix;
  if (!prefix.Ready()) {
    std::cerr << kProgram << ": no Wine prefix: " << prefix.Error() << "\n";
    return 1;
  }
  std::string error;
  if (!PrepareSample(prefix, nineX, remove, &error)) {
    std::cerr << kProgram << ": " << error << "\n";
    return 1;
  }
  if (runs > 0) return Time(prefix, runs);
  BeforeInstall before;
  const int installed = Report(prefix, nineX, remove ? &before : nullptr);
  if (!remove) return installed;
  const int removed = ReportRemoval(prefix, nineX, before);
  return installed != 0 ? installed : removed;
}
