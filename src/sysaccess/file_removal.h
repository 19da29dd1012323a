// File removals: a file deleted now or, when it cannot be (a running
// program, a loaded driver), at the next restart; the renames already pending
// for that restart are taken into account, so that none of them brings a
// removed file back.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "drvsetup.h"

// Deletes each file now (a read-only one after clearing that attribute).
// Then every path that would still hold a file after the next restart -
// because it could not be deleted now, or because a rename pending for that
// restart puts a file there - gets a deletion at the restart, after
// everything already pending: on the NT family through
// MoveFileExA(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT), on the 9x family as a
// "NUL=path" line in the [rename] section of Wininit.ini in windowsFolder
// (which ends in a backslash), every other line of the file kept. A path that
// a deletion already pending last clears is not scheduled again. A path that
// can be neither deleted nor scheduled is reported ("Unable to remove ...");
// a refused Wininit.ini write ends the run like the installer's. A path
// that does not start at a drive's root or a share (its folder could not be
// read) is never touched: it would name a file in the current folder.
void RemoveFiles(const std::vector<std::string>& paths, const std::string& windowsFolder);

// One rename waiting for the next restart, as the platform will carry it out:
// an empty newPath deletes existingPath.
struct PendingRename {
  std::string existingPath;
  std::string newPath;
  bool replace = true;  // the new path's file, if any, is replaced
};

// The paths among `paths` that hold a file after the pending renames are
// carried out in order, given which paths hold a file now (`exists`, asked
// once for each path that matters, case ignored).
std::vector<std::string> PathsLeftAfterRenames(
    const std::vector<std::string>& paths, const std::vector<PendingRename>& pending,
    const std::function<bool(const std::string&)>& exists);

// The text of an INI file with `lines` added at the end of the first section
// of that name (case ignored), after its last line that is not blank; a new
// section at the end when there is none. Every other line, its order and its
// line ending stay (a last line without one is ended first: CR LF, or only
// the LF after a CR); the new lines end in CR LF.
std::string WithLinesInSection(const std::string& text, const std::string& section,
                               const std::vector<std::string>& lines);

// The renames of a Wininit.ini text: the lines "new=existing" of its first
// [rename] section in order; "NUL" as the new path deletes.
std::vector<PendingRename> WininitRenames(const std::string& text);
