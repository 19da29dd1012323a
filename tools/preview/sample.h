// The sample package set built into the preview: the files a CD's source
// folder carries beside drvsetup.exe, a sample disc with the OEM library and
// the manuals, and the application folder and document name of a typical
// call. The contents are placeholders: the installer only places them.
#pragma once

#include <string>
#include <vector>

namespace preview {

struct SampleFile {
  std::string path;  // relative, Windows separators ("DATA\DOC\x.pdf")
  std::string data;
};

// The files of the source folder, in the order the packages use them.
const std::vector<SampleFile>& SampleSourceFiles();
// The files of the sample disc, relative to its root.
const std::vector<SampleFile>& SampleDiscFiles();
// The sample disc's drive letter.
char SampleDiscDrive();
// The application folder and document name of the sample call.
std::string SampleApplicationFolder();
std::string SampleDocumentName();
// Files that the host application's own setup has left in the sample
// application folder, relative to it.
const std::vector<SampleFile>& SampleApplicationFiles();

// Writes the sample set as real files below a folder: source/, disc/ and
// app/ (with Windows separators turned into folders), and arguments.txt with
// the application folder and the document name on two lines. Returns false
// and fills *error when a file cannot be written, or when the folder holds
// anything already: nothing of the user's is overwritten. A failed export
// removes the files and folders it made, and only those.
bool ExportSample(const std::string& folder, std::string* error);

}  // namespace preview
