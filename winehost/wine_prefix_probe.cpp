// What a prefix's session holds, read (and a little of it changed) through
// probe.exe inside the session: registry, pending renames, key security,
// files, processes, the Windows version, drives.
#include "wine_prefix.h"

#include <cstdlib>
#include <sstream>

#include "host_files.h"

namespace winehost {

namespace {

// Decodes %HH escapes of probe.exe's output.
std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size()) {
      out += static_cast<char>(std::strtoul(s.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

}  // namespace

RunResult WinePrefix::Probe(const std::vector<std::string>& args,
                            std::vector<std::vector<std::string>>* records) {
  if (!EnsureSession()) return RunResult();
  std::vector<std::string> argv = {"wine", ProbePath()};
  argv.insert(argv.end(), args.begin(), args.end());
  RunResult r = Exec(argv, root_, "-all");
  if (records) {
    records->clear();
    std::istringstream lines(r.out);
    std::string line;
    while (std::getline(lines, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty()) continue;
      std::vector<std::string> fields;
      size_t start = 0;
      for (;;) {
        size_t tab = line.find('\t', start);
        fields.push_back(Unescape(line.substr(start, tab - start)));
        if (tab == std::string::npos) break;
        start = tab + 1;
      }
      records->push_back(fields);
    }
  }
  return r;
}

RegTree WinePrefix::DumpKey(const std::string& key) {
  RegTree tree;
  std::vector<std::vector<std::string>> records;
  RunResult r = Probe({"regdump", key}, &records);
  if (r.exitCode != 0) {
    if (r.exitCode != 2) Problem("probe regdump " + key + " failed: " + r.out);
    return tree;
  }
  tree.exists = true;
  for (const auto& rec : records) {
    if (rec.size() == 2 && rec[0] == "K") {
      tree.keys.push_back(rec[1]);
      tree.values[rec[1]];
    } else if (rec.size() == 6 && rec[0] == "V") {
      RegValue v;
      v.type = static_cast<uint32_t>(std::stoul(rec[3]));
      v.data = FromHex(rec[5]);
      tree.values[rec[1]][rec[2]] = v;
    }
  }
  return tree;
}

bool WinePrefix::SetValue(const std::string& key, const std::string& name, uint32_t type,
                          const std::string& data) {
  RunResult r = Probe({"regset", key, name, std::to_string(type), text::HexBytes(data)});
  return r.exitCode == 0;
}

bool WinePrefix::DeleteKey(const std::string& key) {
  return Probe({"regdelete", key}).exitCode == 0;
}

std::vector<PendingRename> WinePrefix::PendingRenames() {
  std::vector<PendingRename> out;
  std::vector<std::vector<std::string>> records;
  RunResult r = Probe({"pending"}, &records);
  if (r.exitCode != 0) Problem("probe pending failed: " + r.out);
  for (const auto& rec : records) {
    if (rec.size() != 3 || rec[0] != "R") continue;
    PendingRename p;
    p.from = rec[1];
    p.to = rec[2];
    if (!p.to.empty() && p.to[0] == '!') {
      p.replace = true;
      p.to = p.to.substr(1);
    }
    out.push_back(p);
  }
  return out;
}

KeySecurity WinePrefix::KeySecurityOf(const std::string& objectName) {
  KeySecurity s;
  std::vector<std::vector<std::string>> records;
  RunResult r = Probe({"sddl", objectName}, &records);
  s.ok = r.exitCode == 0;
  for (const auto& rec : records) {
    if (rec.size() == 2 && rec[0] == "C")
      s.control = static_cast<uint16_t>(std::stoul(rec[1], nullptr, 16));
    if (rec.size() == 2 && rec[0] == "S") s.sddl = rec[1];
  }
  return s;
}

uint32_t WinePrefix::Attributes(const std::string& winPath) {
  std::vector<std::vector<std::string>> records;
  Probe({"attrs", winPath}, &records);
  for (const auto& rec : records)
    if (rec.size() == 2 && rec[0] == "A")
      return static_cast<uint32_t>(std::stoul(rec[1], nullptr, 16));
  return 0xFFFFFFFFu;
}

bool WinePrefix::SetAttributes(const std::string& winPath, uint32_t attributes) {
  return Probe({"setattrs", winPath, std::to_string(attributes)}).exitCode == 0;
}

std::vector<FileEntry> WinePrefix::Files(const std::string& winFolder) {
  std::vector<FileEntry> out;
  std::vector<std::vector<std::string>> records;
  Probe({"files", winFolder}, &records);
  for (const auto& rec : records) {
    if (rec.size() == 3 && rec[0] == "D") {
      FileEntry e;
      e.path = rec[1];
      e.attributes = static_cast<uint32_t>(std::stoul(rec[2], nullptr, 16));
      e.folder = true;
      out.push_back(e);
    } else if (rec.size() == 4 && rec[0] == "F") {
      FileEntry e;
      e.path = rec[1];
      e.attributes = static_cast<uint32_t>(std::stoul(rec[2], nullptr, 16));
      e.size = std::stoull(rec[3]);
      out.push_back(e);
    }
  }
  return out;
}

std::vector<std::string> WinePrefix::Processes() {
  std::vector<std::string> out;
  std::vector<std::vector<std::string>> records;
  Probe({"procs"}, &records);
  for (const auto& rec : records)
    if (rec.size() == 3 && rec[0] == "P") out.push_back(rec[2]);
  return out;
}

VersionInfo WinePrefix::Version() {
  VersionInfo v;
  std::vector<std::vector<std::string>> records;
  Probe({"version"}, &records);
  for (const auto& rec : records) {
    if (rec.size() == 5 && rec[0] == "V") {
      v.platform = static_cast<uint32_t>(std::stoul(rec[1]));
      v.major = static_cast<uint32_t>(std::stoul(rec[2]));
      v.minor = static_cast<uint32_t>(std::stoul(rec[3]));
      v.build = static_cast<uint32_t>(std::stoul(rec[4]));
    }
  }
  return v;
}

unsigned WinePrefix::DriveType(const std::string& root) {
  std::vector<std::vector<std::string>> records;
  Probe({"drivetype", root}, &records);
  for (const auto& rec : records)
    if (rec.size() == 2 && rec[0] == "T") return static_cast<unsigned>(std::stoul(rec[1]));
  return 0xFFFFFFFFu;
}

unsigned long WinePrefix::CopyFile(const std::string& from, const std::string& to) {
  std::vector<std::vector<std::string>> records;
  RunResult r = Probe({"copy", from, to}, &records);
  if (r.exitCode == 0) return 0;
  for (const auto& rec : records)
    if (rec.size() == 2 && rec[0] == "E") return std::stoul(rec[1]);
  return 0xFFFFFFFFul;
}

}  // namespace winehost
