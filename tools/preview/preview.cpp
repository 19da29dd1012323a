#include "preview.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <set>
#include <sstream>

#include "installer_process.h"
#include "removal_report.h"
#include "report.h"
#include "sample.h"
#include "text.h"
#include "user_files.h"

namespace preview {

namespace {

const char kProgram[] = "drvsetup-preview";
const char kSourceFolder[] = "C:\\SETUP";
// Real folders larger than this are refused: the simulated machine keeps
// every file in memory.
const uintmax_t kMaxFolderBytes = 256u * 1024u * 1024u;

const char kUsage[] =
    "Usage: drvsetup-preview [OPTION]...\n"
    "Runs the installer drvsetup.exe on a simulated Windows machine and reports\n"
    "what the run did. Without options it runs the built-in sample: the sample\n"
    "package files as the source folder, a sample disc in CD-ROM drive E: and\n"
    "the arguments \"C:\\Program Files\\Orvo-Studio\" \"OrvoStudio\".\n"
    "\n"
    "  --family 9x|nt      the platform family: 9x is Windows 98, nt is Windows XP\n"
    "                      (default nt)\n"
    "  --windows NAME      a Windows version instead: win95, win98, winme, nt351,\n"
    "                      nt40, win2k, winxp, win7, win10\n"
    "  --source DIR        a real folder whose files become the installer's source\n"
    "                      folder C:\\SETUP\\ (default: the sample package files)\n"
    "  --app FOLDER        argument 1, the application folder (a Windows path;\n"
    "                      created on the machine when it is on drive C:);\n"
    "                      --app \"\" passes no argument\n"
    "  --doc NAME          argument 2, the document name (needs --app)\n"
    "  --cd LETTER=DIR     a CD-ROM drive holding a real folder's files\n"
    "                      (repeatable; D to Z, A or B)\n"
    "  --running NAME      a program running during the run, by file name or\n"
    "                      full Windows path (repeatable)\n"
    "  --machine FILE      a machine description (JSON, at most 16 MiB; see\n"
    "                      tools/preview/README.md)\n"
    "  --reg FILE          also write the registry changes as a REGEDIT4 file\n"
    "  --json FILE         also write the whole report as one JSON document\n"
    "  --trace             add the platform calls of the run, in order\n"
    "  --remove            after the install and its restart, run the removal\n"
    "                      drvremove.exe on the same machine and restart again;\n"
    "                      report what it did and what stays against the machine\n"
    "                      before the install\n"
    "  --export-sample DIR write the sample as real files (DIR/source, DIR/disc,\n"
    "                      DIR/app, DIR/arguments.txt) into a new or empty\n"
    "                      folder and stop\n"
    "  -h, --help          show this help\n"
    "\n"
    "When any of --source, --app, --doc or --cd is given, the sample disc and\n"
    "arguments are left out: the run has exactly what the options give.\n"
    "Exit code: the installer's exit code for a run (0, or 1 when a refused INI\n"
    "write ended it); 2 for bad input (a bad option, a folder that cannot be read\n"
    "whole, a bad machine description) or a report file that cannot be written\n"
    "or would replace an input or the other report, with one line on the error\n"
    "output naming it; 3 when the installer returned without ending its process.\n"
    "Reports are put in place only when the whole run succeeded.\n";

struct Options {
  bool help = false;
  std::string family;
  std::string windows;
  std::string source;
  bool hasSource = false;
  std::string app;
  bool hasApp = false;
  std::string doc;
  bool hasDoc = false;
  std::vector<std::pair<char, std::string>> discs;
  std::vector<std::string> running;
  std::string machine;
  bool hasMachine = false;
  std::string reg;
  bool hasReg = false;
  std::string json;
  bool hasJson = false;
  bool trace = false;
  bool remove = false;
  std::string exportSample;
  bool hasExport = false;
};

struct UsageError {
  std::string text;
};

void SetOnce(const std::string& option, std::string* slot, bool* given, const std::string& value) {
  if (*given) throw UsageError{option + " is given twice"};
  *slot = value;
  *given = true;
}

Options ParseOptions(const std::vector<std::string>& args) {
  Options o;
  bool hasFamily = false, hasWindows = false;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (arg == "-h" || arg == "--help") {
      o.help = true;
      continue;
    }
    if (arg == "--trace" || arg == "--remove") {
      bool& flag = arg == "--trace" ? o.trace : o.remove;
      if (flag) throw UsageError{arg + " is given twice"};
      flag = true;
      continue;
    }
    if (arg.compare(0, 2, "--") != 0) {
      if (!arg.empty() && arg[0] == '-') throw UsageError{"unknown option \"" + arg + "\""};
      throw UsageError{"unexpected argument \"" + arg + "\""};
    }
    std::string name = arg, value;
    bool hasValue = false;
    size_t eq = arg.find('=');
    if (eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      hasValue = true;
    }
    static const std::set<std::string> valued = {
        "--family",  "--windows", "--source", "--app",  "--doc",          "--cd",
        "--running", "--machine", "--reg",    "--json", "--export-sample"};
    if (valued.count(name) == 0) {
      if (name == "--trace" || name == "--help" || name == "--remove")
        throw UsageError{name + " takes no value"};
      throw UsageError{"unknown option \"" + name + "\""};
    }
    if (!hasValue) {
      if (i + 1 >= args.size()) throw UsageError{name + " needs a value"};
      value = args[++i];
    }
    if (name == "--family") {
      SetOnce(name, &o.family, &hasFamily, value);
      if (value != "9x" && value != "nt") {
        throw UsageError{"--family must be 9x or nt, not \"" + value + "\""};
      }
    } else if (name == "--windows") {
      SetOnce(name, &o.windows, &hasWindows, value);
      sim::Windows v;
      if (!sim::WindowsFromName(value, &v)) {
        throw UsageError{"unknown Windows version \"" + value +
                         "\" (win95, win98, winme, nt351, nt40, win2k, winxp, win7, win10)"};
      }
    } else if (name == "--source") {
      SetOnce(name, &o.source, &o.hasSource, value);
    } else if (name == "--app") {
      SetOnce(name, &o.app, &o.hasApp, value);
    } else if (name == "--doc") {
      SetOnce(name, &o.doc, &o.hasDoc, value);
    } else if (name == "--machine") {
      SetOnce(name, &o.machine, &o.hasMachine, value);
    } else if (name == "--reg") {
      SetOnce(name, &o.reg, &o.hasReg, value);
      if (value.empty()) throw UsageError{"--reg needs a file name"};
    } else if (name == "--json") {
      SetOnce(name, &o.json, &o.hasJson, value);
      if (value.empty()) throw UsageError{"--json needs a file name"};
    } else if (name == "--export-sample") {
      SetOnce(name, &o.exportSample, &o.hasExport, value);
      if (value.empty()) throw UsageError{"--export-sample needs a folder"};
    } else if (name == "--running") {
      if (value.empty()) throw UsageError{"--running needs a program name"};
      o.running.push_back(value);
    } else if (name == "--cd") {
      if (value.size() < 3 || value[1] != '=' ||
          !std::isalpha(static_cast<unsigned char>(value[0]))) {
        throw UsageError{"--cd expects LETTER=DIR, as in --cd E=/media/disc"};
      }
      char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(value[0])));
      if (letter == 'C') throw UsageError{"--cd: drive C: is the machine's hard disk"};
      for (const auto& disc : o.discs) {
        if (disc.first == letter) {
          throw UsageError{std::string("--cd: drive ") + letter + ": is given twice"};
        }
      }
      o.discs.emplace_back(letter, value.substr(2));
    }
  }
  if (hasFamily && hasWindows) throw UsageError{"give either --family or --windows, not both"};
  if (o.hasDoc && !o.doc.empty() && (!o.hasApp || o.app.empty())) {
    throw UsageError{"--doc needs --app: the document name is the second argument"};
  }
  for (const std::string* arg : {&o.app, &o.doc}) {
    if (arg->find('"') != std::string::npos) {
      throw UsageError{"an argument with a double quote cannot be passed on the command line: \"" +
                       *arg + "\""};
    }
  }
  return o;
}

struct CopyError {
  std::string text;
};

// Why Windows cannot hold a file or folder of this name, or "" when it can.
std::string WindowsNameFault(const std::string& name) {
  if (name.empty() || name == "." || name == "..")
    return "a Windows file name cannot hold that name";
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 32 || std::strchr("<>:\"/\\|?*", c) != nullptr) {
      return "a Windows file name cannot hold that name";
    }
  }
  const char last = name.back();
  if (last == '.' || last == ' ') {
    return "Windows drops a name's trailing dots and spaces, so it cannot hold that name";
  }
  if (IsReservedDeviceName(name)) return "a name Windows keeps for a device";
  return std::string();
}

// The name as Windows compares it: case folded, trailing dots and spaces
// dropped.
std::string WindowsFold(const std::string& name) {
  std::string folded = text::Upper(name);
  while (!folded.empty() && (folded.back() == '.' || folded.back() == ' ')) folded.pop_back();
  return folded;
}

// Reads a real file whole: false with the reason when it cannot be read or
// its size is not what the folder listed (a scratched disc, a file that
// changes while it is read, a file of the kernel).
bool ReadWhole(const std::string& path, uintmax_t listedSize, std::string* data, std::string* why) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *why = "it cannot be opened";
    return false;
  }
  data->clear();
  char piece[65536];
  while (in) {
    in.read(piece, sizeof piece);
    data->append(piece, static_cast<size_t>(in.gcount()));
    if (data->size() > listedSize) break;
  }
  if (in.bad()) {
    *why = "a read failed";
    return false;
  }
  if (data->size() != listedSize) {
    *why = "it holds " + std::to_string(data->size()) + (data->size() > listedSize ? "+" : "") +
           " bytes, not the " + std::to_string(listedSize) + " its folder lists";
    return false;
  }
  return true;
}

// Copies a real folder's files (and subfolders) below a folder of the
// simulated machine, walking the tree with a list of folders still to read.
// Files reached through links are read as the files they name, as CopyFile
// does on Windows; a link to a folder (on Windows a reparse point) is not
// followed, so the walk never loops or leaves the folder. Anything that
// cannot be read whole, is not a file or a folder, or has a name Windows
// cannot hold (or holds twice) stops the copy with its path: a disc image
// that the machine would see only in part gives no useful report. Records
// the identity of every file read in *read. Returns the number of files, or
// -1 with *error.
long CopyRealFolder(const std::string& realFolder, const std::string& machineFolder,
                    const std::string& option, FilesRead* read, std::string* error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (!fs::is_directory(realFolder, ec)) {
    *error = option + ": no folder " + Shown(realFolder);
    return -1;
  }
  long files = 0;
  uintmax_t bytes = 0;
  try {
    sim::MakeFolder(machineFolder);
    std::vector<std::pair<fs::path, std::string>> folders = {{fs::path(realFolder), machineFolder}};
    while (!folders.empty()) {
      fs::path folder = folders.back().first;
      std::string machine = folders.back().second;
      folders.pop_back();
      std::vector<fs::directory_entry> entries;
      fs::directory_iterator it(folder, ec), end;
      for (; !ec && it != end; it.increment(ec)) entries.push_back(*it);
      if (ec) {
        throw CopyError{"cannot read the folder " + Shown(folder.string()) + ": " + ec.message()};
      }
      std::sort(entries.begin(), entries.end(),
                [](const fs::directory_entry& x, const fs::directory_entry& y) {
                  return x.path().filename() < y.path().filename();
                });
      // Two names Windows takes for one would leave one file in place of two.
      std::map<std::string, std::string> names;  // folded name: real path
      for (const fs::directory_entry& entry : entries) {
        auto same =
            names.emplace(WindowsFold(entry.path().filename().string()), entry.path().string());
        if (!same.second) {
          throw CopyError{Shown(same.first->second) + " and " + Shown(entry.path().string()) +
                          " are one name on Windows"};
        }
      }
      std::vector<std::pair<fs::path, std::string>> below;
      for (const fs::directory_entry& entry : entries) {
        const fs::path& real = entry.path();
        std::string name = real.filename().string();
        std::string fault = WindowsNameFault(name);
        if (!fault.empty()) throw CopyError{Shown(real.string()) + ": " + fault};
        std::string target = machine + "\\" + name;
        if (target.size() >= MAX_PATH) {
          throw CopyError{Shown(real.string()) + ": path too long for Windows"};
        }
        fs::file_status status = entry.status(ec);
        if (ec || status.type() == fs::file_type::not_found) {
          throw CopyError{"cannot read " + Shown(real.string()) + ": " +
                          (ec ? ec.message() : std::string("a link to nothing"))};
        }
        if (status.type() == fs::file_type::directory) {
          if (IsLink(real.string())) {
            throw CopyError{Shown(real.string()) +
                            ": a link to a folder; links to folders are not followed"};
          }
          sim::MakeFolder(target);
          below.emplace_back(real, target);
          continue;
        }
        if (status.type() != fs::file_type::regular) {
          throw CopyError{Shown(real.string()) + ": " + KindOfFile(status.type()) +
                          ", not a file or folder"};
        }
        uintmax_t size = entry.file_size(ec);
        if (ec || (bytes += size) > kMaxFolderBytes) {
          throw CopyError{Shown(realFolder) + " holds more than 256 MiB"};
        }
        std::string data, why;
        if (!ReadWhole(real.string(), size, &data, &why)) {
          throw CopyError{"cannot read " + Shown(real.string()) + " whole: " + why};
        }
        sim::PutFile(target, data);
        if (read) read->emplace(IdentityOf(real.string()), real.string());
        ++files;
      }
      // Read in name order: the list is taken from its end.
      folders.insert(folders.end(), below.rbegin(), below.rend());
    }
  } catch (const CopyError& e) {
    *error = option + ": " + e.text;
    return -1;
  } catch (const std::exception& e) {
    *error = option + ": cannot read " + Shown(realFolder) + ": " + e.what();
    return -1;
  }
  return files;
}

void PutSampleFiles(const std::string& folder, const std::vector<SampleFile>& files) {
  sim::MakeFolder(folder);
  for (const SampleFile& file : files) {
    std::string path = folder + "\\" + file.path;
    size_t slash = path.find_last_of('\\');
    sim::MakeFolder(path.substr(0, slash));
    sim::PutFile(path, file.data);
  }
}

std::string DisplayName(sim::Windows v) {
  switch (v) {
    case sim::Windows::Win95:
      return "Windows 95";
    case sim::Windows::Win98:
      return "Windows 98";
    case sim::Windows::WinMe:
      return "Windows Me";
    case sim::Windows::NT351:
      return "Windows NT 3.51";
    case sim::Windows::NT40:
      return "Windows NT 4.0";
    case sim::Windows::Win2k:
      return "Windows 2000";
    case sim::Windows::WinXP:
      return "Windows XP";
    case sim::Windows::Win7:
      return "Windows 7";
    case sim::Windows::Win10:
      return "Windows 10";
  }
  return "Windows";
}

}  // namespace

Scenario SampleScenario(sim::Windows windows) {
  Scenario s;
  s.windows = windows;
  s.sampleDisc = true;
  s.applicationFolder = SampleApplicationFolder();
  s.documentName = SampleDocumentName();
  return s;
}

std::string CommandLineFor(const std::string& applicationFolder, const std::string& documentName) {
  std::string arguments;
  if (!applicationFolder.empty()) arguments = "\"" + applicationFolder + "\"";
  if (!applicationFolder.empty() && !documentName.empty()) arguments += " \"" + documentName + "\"";
  return sim::InstallerCommandLine(arguments);
}

bool BuildMachine(const Scenario& scenario, std::string* error, FilesRead* read) {
  sim::Reset(scenario.windows);
  // The host application has been used on this machine before: each user
  // has its engine settings, which the installer removes for the running one.
  sim::PutHostEngineSettings();
  sim::SetModulePath(sim::kInstallerPath);
  sim::SetCommandLine(CommandLineFor(scenario.applicationFolder, scenario.documentName));

  if (scenario.sourceFolder.empty()) {
    PutSampleFiles(kSourceFolder, SampleSourceFiles());
  } else if (CopyRealFolder(scenario.sourceFolder, kSourceFolder, "--source", read, error) < 0) {
    return false;
  }
  if (scenario.sampleDisc) {
    sim::SetDrive(SampleDiscDrive(), DRIVE_CDROM);
    PutSampleFiles(std::string(1, SampleDiscDrive()) + ":", SampleDiscFiles());
  }
  for (const auto& disc : scenario.discs) {
    sim::SetDrive(disc.first, DRIVE_CDROM);
    if (CopyRealFolder(disc.second, std::string(1, disc.first) + ":",
                       std::string("--cd ") + disc.first, read, error) < 0) {
      return false;
    }
  }
  // The host application's own setup has made the application folder before
  // it starts the installer.
  const std::string& app = scenario.applicationFolder;
  std::string why;
  if (!app.empty() && IsMachinePath(app, &why)) {
    sim::MakeFolder(app);
    if (scenario.sampleDisc) {
      std::string folder = app;
      while (!folder.empty() && folder.back() == '\\') folder.pop_back();
      PutSampleFiles(folder, SampleApplicationFiles());
    }
  }
  if (scenario.machine != nullptr) {
    PathNames names;
    names.windows = sim::WindowsFolder();
    names.system = sim::SystemFolder();
    names.source = kSourceFolder;
    names.application = app;
    std::string fault;
    if (!ApplyMachineDescription(*scenario.machine, names, &fault)) {
      *error = "--machine: " + fault;
      return false;
    }
  }
  DWORD pid = FirstFreeProcessId();
  for (const std::string& name : scenario.running) {
    std::string fault;
    if (!AddRunningProgram(name, app.empty() ? SampleApplicationFolder() : app, pid, &fault)) {
      *error = "--running: " + fault;
      return false;
    }
    pid += 4;
  }
  return true;
}

namespace {

// Windows passes a command line of at most 32,767 characters, its
// terminating zero included.
const size_t kLongestCommandLine = 32766;

// One report file asked for: it is written beside the file it replaces
// under a temporary name and moved into place only when the whole run
// succeeded, so a refused run leaves an earlier report as it was. A path
// that is a link is followed: the file it names is replaced, the link
// stays. The temporary file goes when the run stops early.
struct ReportFile {
  ReportFile(const char* option, const std::string& path) : option(option), path(path) {}
  const char* option;
  std::string path;  // as given
  std::string file;  // the file it names, links followed
  TemporaryFile temporary;
};

// The path as a folder walk would compare it: absolute, "." and ".." parts
// resolved, and on Windows without regard to case.
std::string ComparablePath(const std::string& path) {
  std::error_code ec;
  std::string normal = std::filesystem::absolute(path, ec).lexically_normal().string();
#ifdef _WIN32
  normal = text::Upper(normal);
#endif
  return normal;
}

// Why a report may not be written at its path, or "": it must not name the
// machine description, a file the run reads (also through a link or a hard
// link), the other report, or anything but a file.
std::string ReportPathFault(const ReportFile& report, const ReportFile* other,
                            const std::string& machineFile, const FilesRead& read) {
  namespace fs = std::filesystem;
  const fs::file_type type = HostFileType(report.path);
  if (type != fs::file_type::not_found && type != fs::file_type::regular) {
    return Shown(report.path) + " is " + KindOfFile(type) + ", not a file a report can replace";
  }
  FileIdentity id = IdentityOf(report.path);
  // A link that names a file by no path (/proc/self/fd/N of a deleted file)
  // has no place beside which a report could be put.
  if (id.known && !(IdentityOf(report.file) == id)) {
    return Shown(report.path) + " is a file no path names, not a file a report can replace";
  }
  if (other && (id == IdentityOf(other->path) ||
                ComparablePath(report.file) == ComparablePath(other->file))) {
    return Shown(report.path) + " is also the file of " + other->option +
           "; give each report its own file";
  }
  if (!machineFile.empty() && id == IdentityOf(machineFile)) {
    return Shown(report.path) + " is the machine description; a report never replaces an input";
  }
  auto input = id.known ? read.find(id) : read.end();
  if (input != read.end()) {
    return Shown(report.path) + " is " + Shown(input->second) +
           ", a file the run reads; a report never replaces an input";
  }
  return std::string();
}

// Makes the report's temporary file beside the file it replaces; false with
// the reason.
bool OpenTemporary(ReportFile* report, std::string* why) {
  std::string reason;
  if (report->temporary.Make(FolderOf(report->file), &reason)) return true;
  *why = "cannot write " + Shown(report->path) + ": " + reason;
  return false;
}

// Writes the report's text into its temporary file; false when it cannot be
// written whole.
bool WriteTemporary(const ReportFile& report, const std::string& text) {
  std::ofstream file(report.temporary.path(), std::ios::binary | std::ios::trunc);
  if (!file) return false;
  file << text;
  file.close();
  return static_cast<bool>(file);
}

// The first option given besides --export-sample, or "".
std::string OtherThanExport(const Options& o) {
  const std::pair<bool, const char*> given[] = {{!o.family.empty(), "--family"},
                                                {!o.windows.empty(), "--windows"},
                                                {o.hasSource, "--source"},
                                                {o.hasApp, "--app"},
                                                {o.hasDoc, "--doc"},
                                                {!o.discs.empty(), "--cd"},
                                                {!o.running.empty(), "--running"},
                                                {o.hasMachine, "--machine"},
                                                {o.hasReg, "--reg"},
                                                {o.hasJson, "--json"},
                                                {o.trace, "--trace"},
                                                {o.remove, "--remove"}};
  for (const auto& option : given) {
    if (option.first) return option.second;
  }
  return std::string();
}

}  // namespace

int PreviewMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  // Every problem is one line naming it, with what came from the input
  // escaped, and exit code 2.
  auto fail = [&](const std::string& text, bool hint = false) {
    err << SafeLine(std::string(kProgram) + ": " + text) << "\n";
    if (hint) err << "Try '" << kProgram << " --help' for the options.\n";
    return 2;
  };
  Options options;
  try {
    options = ParseOptions(args);
  } catch (const UsageError& e) {
    return fail(e.text, true);
  }
  if (options.help) {
    out << kUsage;
    return 0;
  }
  if (options.hasExport) {
    const std::string other = OtherThanExport(options);
    if (!other.empty()) return fail("--export-sample is given alone, not with " + other, true);
    std::string error;
    if (!ExportSample(options.exportSample, &error)) return fail("--export-sample: " + error);
    return 0;
  }

  MachineDescription machine;
  if (options.hasMachine) {
    std::string error;
    if (!LoadMachineDescription(options.machine, &machine, &error)) {
      return fail("--machine " + options.machine + ": " + error);
    }
  }

  Scenario scenario;
  if (!options.family.empty()) {
    scenario.windows = options.family == "9x" ? sim::Windows::Win98 : sim::Windows::WinXP;
  } else if (!options.windows.empty()) {
    sim::WindowsFromName(options.windows, &scenario.windows);
  } else if (machine.hasWindows) {
    scenario.windows = machine.windows;
  }
  bool sample = !options.hasSource && !options.hasApp && !options.hasDoc && options.discs.empty();
  if (sample) {
    Scenario s = SampleScenario(scenario.windows);
    scenario = s;
  }
  scenario.sourceFolder = options.source;
  if (options.hasSource && options.source.empty()) return fail("--source: no folder \"\"");
  if (!sample) {
    scenario.applicationFolder = options.app;
    scenario.documentName = options.doc;
    scenario.discs = options.discs;
  }
  scenario.running = options.running;
  scenario.machine = options.hasMachine ? &machine : nullptr;
  const std::string commandLine = CommandLineFor(scenario.applicationFolder, scenario.documentName);
  if (commandLine.size() > kLongestCommandLine) {
    return fail("--app and --doc make a command line of " + std::to_string(commandLine.size()) +
                " characters; Windows passes at most " + std::to_string(kLongestCommandLine));
  }

  std::string error;
  FilesRead read;
  if (!BuildMachine(scenario, &error, &read)) return fail(error);
  // The report files are checked and made before the run, so that a name
  // that cannot be written stops the preview before anything is shown.
  std::deque<ReportFile> reports;
  if (options.hasReg) reports.emplace_back("--reg", options.reg);
  if (options.hasJson) reports.emplace_back("--json", options.json);
  for (ReportFile& report : reports) {
    std::string why;
    if (!FollowLinks(report.path, &report.file, &why)) {
      return fail(std::string(report.option) + ": cannot write " + Shown(report.path) + ": " + why);
    }
  }
  for (size_t i = 0; i < reports.size(); ++i) {
    const ReportFile* other = reports.size() == 2 ? &reports[1 - i] : nullptr;
    std::string fault = ReportPathFault(reports[i], i == 1 ? nullptr : other,
                                        options.hasMachine ? options.machine : std::string(), read);
    if (!fault.empty()) return fail(std::string(reports[i].option) + ": " + fault);
  }
  for (ReportFile& report : reports) {
    std::string why;
    if (!OpenTemporary(&report, &why)) return fail(std::string(report.option) + ": " + why);
  }

  RunReport report;
  report.windowsName = DisplayName(scenario.windows);
  report.nineX = sim::Is9x(scenario.windows);
  report.commandLine = commandLine;
  report.sourceText = options.hasSource ? "the files of " + options.source
                                        : std::string("the sample package files");
  // The machine description may take the folder away again ("missing").
  if (!sim::IsFolder(kSourceFolder))
    report.sourceText = "nothing: the machine description removes the folder";
  if (sample) {
    report.discs.push_back(std::string(1, SampleDiscDrive()) + ": the sample disc");
  }
  for (const auto& disc : scenario.discs) {
    report.discs.push_back(std::string(1, disc.first) + ": the files of " + disc.second);
  }
  report.sourceFolder = std::string(kSourceFolder) + "\\";
  report.trace = options.trace;

  // With --remove, the registry before the install, for what stays.
  const RegistrySnapshot registryBeforeInstall =
      options.remove ? TakeRegistry(!report.nineX) : RegistrySnapshot();
  CaptureRun(&report);

  // Every report is written whole before any is put in place or shown.
  std::ostringstream text;
  WriteReport(report, text);
  RemovalReport removal;
  if (options.remove) {
    removal.applicationFolder = scenario.applicationFolder;
    CaptureRemoval(report, registryBeforeInstall, &removal);
    WriteRemovalReport(removal, text);
  }
  for (const ReportFile& file : reports) {
    const bool reg = std::string(file.option) == "--reg";
    const std::string content = reg              ? Regedit4Text(report)
                                : options.remove ? JsonReportWithRemoval(report, removal)
                                                 : JsonReport(report);
    if (!WriteTemporary(file, content)) {
      return fail(std::string(file.option) + ": cannot write " + Shown(file.path));
    }
  }
  // All reports are put in place, or none: a refused run leaves every
  // earlier report as it was.
  std::vector<Placement> placements;
  for (const ReportFile& file : reports) placements.push_back({file.temporary.path(), file.file});
  size_t failed = 0;
  std::string why;
  if (!PutAllInPlace(placements, &failed, &why)) {
    const ReportFile& file = reports[failed];
    return fail(std::string(file.option) + ": cannot write " + Shown(file.path) + ": " + why);
  }
  for (ReportFile& file : reports) file.temporary.Release();
  out << text.str();
  if (!report.result.exited) return 3;
  if (options.remove && report.result.exitCode == 0) {
    // The removal's exit code, once the install has ended well.
    if (!removal.run.result.exited) return 3;
    return static_cast<int>(removal.run.result.exitCode);
  }
  return static_cast<int>(report.result.exitCode);
}

}  // namespace preview
