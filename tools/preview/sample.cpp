#include "sample.h"

#include <filesystem>
#include <fstream>

#include "machine_file.h"

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

bool WriteFiles(const std::filesystem::path& folder, const std::vector<SampleFile>& files,
                std::string* error) {
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
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(file.data.data(), static_cast<std::streamsize>(file.data.size()));
    out.close();
    if (!out) {
      *error = "cannot write " + Shown(path.string());
      return false;
    }
  }
  return true;
}

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
  if (!WriteFiles(root / "source", SampleSourceFiles(), error) ||
      !WriteFiles(root / "disc", SampleDiscFiles(), error) ||
      !WriteFiles(root / "app", SampleApplicationFiles(), error)) {
    return false;
  }
  std::ofstream out(root / "arguments.txt", std::ios::trunc);
  out << SampleApplicationFolder() << "\n" << SampleDocumentName() << "\n";
  out.close();
  if (!out) {
    *error = "cannot write " + Shown((root / "arguments.txt").string());
    return false;
  }
  return true;
}

}  // namespace preview
