#include "sample.h"

#include <filesystem>

#include "machine_file.h"
#include "user_files.h"

namespace preview {

namespace {

SampleFile Placeholder(const std::string& path, const std::string& what) {
  return {path, "Sample file " + path + ": " + what +
                    ". Placeholder data for the preview; the installer only places it.\r\n"};
}

const char kDocument[] = "OrvoStudio";

}  // namespace

const std::vector<SampleFile>& SampleSourceFiles() {
  static const std::vector<SampleFile> files = {
      // ASPI layer, both families, under their staging names.
      Placeholder("WNASPI32.9x", "32-bit ASPI library, 9x family"),
      Placeholder("WINASPI.9x", "16-bit ASPI library, 9x family"),
      Placeholder("ASPIENUM.9x", "ASPI enumerator driver, 9x family"),
      Placeholder("APIX.9x", "ASPI port driver, 9x family"),
      Placeholder("ASPI32.NT", "ASPI kernel driver, NT family"),
      Placeholder("WNASPI32.NT", "32-bit ASPI library, NT family"),
      Placeholder("WINASPI.NT", "16-bit ASPI library, NT family"),
      Placeholder("WOWPOST.NT", "ASPI helper program, NT family"),
      // Realtime audio kernel.
      Placeholder("ZOLTAVEX.VXD", "audio kernel virtual device driver, 9x family"),
      Placeholder("ZOLTAV16.DLL", "audio kernel thunk library, 9x family"),
      Placeholder("ZOLTAVEX.INF", "audio kernel setup information"),
      Placeholder("ZOLTAVEX.SYS", "audio kernel driver, NT family"),
      Placeholder("ZOLTAVEX.DLL", "audio engine library"),
      Placeholder("ZOLTAVEX.EXE", "audio engine program"),
      // USB device packages.
      Placeholder("KOVA51USB.INF", "USB device setup information"),
      Placeholder("DQ_USB.INF", "USB device setup information"),
      Placeholder("FTD2XX.DLL", "D2XX library"),
      Placeholder("FTD2XXUN.EXE", "D2XX uninstaller"),
      Placeholder("FTD2XX.SYS", "D2XX driver"),
  };
  return files;
}

const std::vector<SampleFile>& SampleDiscFiles() {
  static const std::vector<SampleFile> files = {
      Placeholder("OEM\\ORVOOEM.DLL", "OEM library"),
      Placeholder(std::string("DATA\\DOC\\") + kDocument + "-de.pdf", "German manual"),
      Placeholder(std::string("DATA\\DOC\\") + kDocument + "-en.pdf", "English manual"),
  };
  return files;
}

char SampleDiscDrive() { return 'E'; }

std::string SampleApplicationFolder() { return "C:\\Program Files\\Orvo-Studio"; }

std::string SampleDocumentName() { return kDocument; }

const std::vector<SampleFile>& SampleApplicationFiles() {
  static const std::vector<SampleFile> files = {
      Placeholder("ORVO.EXE", "host application"),
      Placeholder("HISTORY.TXT", "release notes"),
  };
  return files;
}

namespace {

// What one export has made, in order: a failed export removes it again, and
// nothing else.
class Made {
 public:
  ~Made() {
    if (kept_) return;
    std::error_code ec;
    for (auto it = paths_.rbegin(); it != paths_.rend(); ++it) std::filesystem::remove(*it, ec);
  }
  void Add(const std::filesystem::path& path) { paths_.push_back(path); }
  void Keep() { kept_ = true; }

 private:
  std::vector<std::filesystem::path> paths_;
  bool kept_ = false;
};

// Makes a folder and the folders above it that are missing.
bool MakeFolders(const std::filesystem::path& folder, Made* made, std::string* error) {
  std::vector<std::filesystem::path> missing;
  std::error_code ec;
  for (std::filesystem::path p = folder; !p.empty(); p = p.parent_path()) {
    if (std::filesystem::symlink_status(p, ec).type() != std::filesystem::file_type::not_found) {
      break;
    }
    missing.push_back(p);
    if (p == p.parent_path()) break;
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (!std::filesystem::create_directory(*it, ec)) {
      *error = "cannot make the folder " + Shown(it->string()) + ": " +
               (ec ? ec.message() : std::string("it exists already"));
      return false;
    }
    made->Add(*it);
  }
  return true;
}

bool PutSampleFile(const std::filesystem::path& path, const std::string& data, Made* made,
                   std::string* error) {
  if (!MakeFolders(path.parent_path(), made, error)) return false;
  std::string why;
  if (!WriteNewFile(path.string(), data, &why)) {
    *error = "cannot write " + Shown(path.string()) + ": " + why;
    return false;
  }
  made->Add(path);
  return true;
}

bool WriteFiles(const std::filesystem::path& folder, const std::vector<SampleFile>& files,
                Made* made, std::string* error) {
  for (const SampleFile& file : files) {
    std::filesystem::path path = folder;
    std::string part;
    for (char c : file.path) {
      if (c == '\\') {
        path /= part;
        part.clear();
      } else {
        part += c;
      }
    }
    path /= part;
    if (!PutSampleFile(path, file.data, made, error)) return false;
  }
  return true;
}

// arguments.txt is a text file of the system's own kind.
#ifdef _WIN32
const char kLineEnd[] = "\r\n";
#else
const char kLineEnd[] = "\n";
#endif

}  // namespace

bool ExportSample(const std::string& folder, std::string* error) {
  std::filesystem::path root(folder);
  // Only into a new or empty folder: nothing of the user's is overwritten.
  std::error_code ec;
  std::filesystem::file_status status = std::filesystem::status(root, ec);
  if (std::filesystem::exists(status)) {
    if (!std::filesystem::is_directory(status)) {
      *error = Shown(folder) + " is " + KindOfFile(status.type()) + ", not a folder";
      return false;
    }
    std::filesystem::directory_iterator entries(root, ec);
    if (ec) {
      *error = "cannot read the folder " + Shown(folder) + ": " + ec.message();
      return false;
    }
    if (entries != std::filesystem::directory_iterator()) {
      *error =
          Shown(folder) + " is not empty; the sample is written only into a new or empty folder";
      return false;
    }
  }
  // A failed export (a full disk) leaves the folder as it found it, so that
  // the export can be given again.
  Made made;
  if (!MakeFolders(root, &made, error) ||
      !WriteFiles(root / "source", SampleSourceFiles(), &made, error) ||
      !WriteFiles(root / "disc", SampleDiscFiles(), &made, error) ||
      !WriteFiles(root / "app", SampleApplicationFiles(), &made, error) ||
      !PutSampleFile(root / "arguments.txt",
                     SampleApplicationFolder() + kLineEnd + SampleDocumentName() + kLineEnd, &made,
                     error)) {
    return false;
  }
  made.Keep();
  return true;
}

}  // namespace preview
