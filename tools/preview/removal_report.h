// The removal after the install (drvsetup-preview --remove): drvremove.exe
// run on the machine the preview installed on and restarted, what that run
// did, and what stays of the install once the removal's restart is done,
// compared with the machine before the install, each item with the reason
// it stays.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "report.h"

namespace preview {

// Something that differs between the machine before the install and after
// the removal's restart.
struct StayingItem {
  std::string kind;    // "file", "key", "value", "ini"
  std::string path;    // file path, key path, "KEY \"NAME\"", or "FILE [SECTION] LINE"
  std::string change;  // "new", "replaced", "removed", "attributes", "+ line", "- line"
  std::string reason;  // why it stays; empty when it is on no keep list
};

struct RemovalReport {
  std::string applicationFolder;  // the install's first argument; set by the caller
  // The removal's own run, in the install report's form: before is the
  // installed machine after its restart, after the machine after the
  // removal, afterRestart after the removal's restart.
  RunReport run;
  std::vector<StayingItem> stays;  // against the machine before the install
  size_t unexplained = 0;          // staying items without a reason
};

// Runs the removal program on the current machine (the installed one, after
// its restart) and restarts it; `install` is the install's report, whose
// `before` is the machine before the install and whose set-up the removal's
// report repeats; registryBeforeInstall the registry before the install.
// removal->applicationFolder is set before.
void CaptureRemoval(const RunReport& install, const RegistrySnapshot& registryBeforeInstall,
                    RemovalReport* removal);

// Why an item that differs from before the install stays: the keep list
// (the ASPI layer and its backups, FTDI's D2XX files, SYSTEM.INI, the
// application folder) and the installer's own housekeeping; "" when none.
std::string KeepReason(const std::string& kind, const std::string& path,
                       const std::string& applicationFolder);

void WriteRemovalReport(const RemovalReport& removal, std::ostream& out);
// The install's JSON document with a "removal" member: the removal's run in
// the install report's form, plus "stays" and "unexplained".
std::string JsonReportWithRemoval(const RunReport& install, const RemovalReport& removal);

}  // namespace preview
