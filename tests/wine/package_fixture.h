// Shared set-up of the Wine tests of the package installers: package files
// with contents of their own, and the registry values a package writes,
// checked both as the registry holds them and as the installer handed them
// to RegSetValueExA.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "installer_fixture.h"

namespace winetest {

// The system folder as Wine reports it on every version, with the backslash
// the packages add.
constexpr const char kSystem[] = "C:\\windows\\system32\\";
constexpr uint32_t kHklmHandle = 0x80000002u;

// One registry value of a package: key below HKEY_LOCAL_MACHINE, name ("" for
// the default value), type and the exact bytes.
struct ExpectedValue {
  std::string key;
  std::string name;
  uint32_t type;
  std::string data;
};

inline ExpectedValue Sz(const std::string& key, const std::string& name, const std::string& text) {
  return {key, name, kRegSz, SzBytes(text)};
}
inline ExpectedValue Dword(const std::string& key, const std::string& name, uint32_t v) {
  return {key, name, kRegDword, DwordBytes(v)};
}
inline ExpectedValue Raw(const std::string& key, const std::string& name, uint32_t type,
                         const std::string& bytes) {
  return {key, name, type, bytes};
}

// A 32-bit argument of a relayed call: 64-bit code leaves the upper half of
// its register undefined (and handles such as HKEY_LOCAL_MACHINE show
// sign-extended).
inline uint32_t Arg32(const RelayCall& c, size_t i) {
  return static_cast<uint32_t>(c.Value(i) & 0xffffffffu);
}

// One RegSetValueExA call of the installer, with the key of the
// RegCreateKeyExA call that opened it (the writers open, set and close one
// value at a time).
struct ValueWrite {
  uint32_t root = 0;
  std::string key;
  bool keyKnown = false;
  std::string name;
  uint32_t type = 0;
  uint32_t count = 0;
  size_t callIndex = 0;  // the RegSetValueExA call's place in trace.calls
};

inline std::vector<ValueWrite> ValueWrites(const RelayTrace& trace) {
  std::vector<ValueWrite> out;
  const RelayCall* lastCreate = nullptr;
  for (size_t i = 0; i < trace.calls.size(); ++i) {
    const RelayCall& c = trace.calls[i];
    if (c.function == "RegCreateKeyExA") {
      lastCreate = &c;
    } else if (c.function == "RegSetValueExA") {
      ValueWrite w;
      if (lastCreate) {
        w.root = Arg32(*lastCreate, 0);
        w.key = lastCreate->Text(1);
        w.keyKnown = true;
      }
      w.name = c.Text(1);
      w.type = Arg32(c, 3);
      w.count = Arg32(c, 5);
      w.callIndex = i;
      out.push_back(w);
    }
  }
  return out;
}

// The engine configuration default, as both families write it.
inline std::string EngineConfigBytes() {
  static const unsigned char bytes[16] = {0x3A, 0x7C, 0x51, 0xE9, 0xB2, 0x06, 0x11, 0xD4,
                                          0x8F, 0x2D, 0x02, 0x4B, 0x7E, 0x19, 0xC3, 0x58};
  return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

class PackageTest : public InstallerTest {
 protected:
  // A source file's contents: its own name, so that every placed file can be
  // told from every other and from what a target held before.
  static std::string NewContent(const std::string& name) { return "new " + name; }

  void PlaceSource(const std::vector<std::string>& names, Caller caller = {}) {
    TRACE_CALLER(caller);
    for (const auto& name : names)
      ASSERT_TRUE(
          wine->PutFile(std::string(WinePrefix::kSourceFolder) + "\\" + name, NewContent(name)));
  }

  void ExpectFile(const std::string& winPath, const std::string& content, Caller caller = {}) {
    TRACE_CALLER(caller);
    std::string data;
    if (!wine->ReadFile(winPath, &data)) {
      ADD_FAILURE() << "missing: " << winPath;
      return;
    }
    EXPECT_EQ(data, content) << winPath;
  }

  void ExpectNoFile(const std::string& winPath, Caller caller = {}) {
    TRACE_CALLER(caller);
    EXPECT_FALSE(wine->Exists(winPath)) << "should not exist: " << winPath;
  }

  // The values below HKLM\tree, read back with their types and bytes: every
  // expected value whose key lies in the tree, and no other value in it.
  void ExpectTree(const std::string& tree, const std::vector<ExpectedValue>& rows,
                  Caller caller = {}) {
    TRACE_CALLER(caller);
    RegTree t = wine->DumpKey("HKLM\\" + tree);
    ASSERT_TRUE(t.exists) << "HKLM\\" << tree;
    size_t inTree = 0;
    for (const auto& row : rows) {
      if (row.key.size() < tree.size() || !EqualNoCase(row.key.substr(0, tree.size()), tree))
        continue;
      std::string rel = row.key.substr(tree.size());
      if (!rel.empty() && rel[0] != '\\') continue;
      if (!rel.empty()) rel = rel.substr(1);
      ++inTree;
      const RegValue* v = t.Value(rel, row.name);
      if (!v) {
        ADD_FAILURE() << "missing value \"" << row.name << "\" of " << row.key;
        continue;
      }
      EXPECT_EQ(v->type, row.type) << row.key << " \"" << row.name << "\"";
      EXPECT_EQ(text::HexBytes(v->data), text::HexBytes(row.data))
          << row.key << " \"" << row.name << "\"";
    }
    EXPECT_EQ(t.ValueCount(), inTree) << "other values below HKLM\\" << tree;
  }

  // The rows, in their order and without a gap, among the installer's
  // RegSetValueExA calls: root, key and name as written, the type, and the
  // byte count it passed (what Wine stores can differ for texts).
  static void ExpectWritten(const RelayTrace& trace, const std::vector<ExpectedValue>& rows,
                            Caller caller = {}) {
    TRACE_CALLER(caller);
    ASSERT_FALSE(rows.empty());
    const std::vector<ValueWrite> writes = ValueWrites(trace);
    size_t first = 0;
    while (first < writes.size() &&
           !(EqualNoCase(writes[first].key, rows[0].key) && writes[first].name == rows[0].name))
      ++first;
    ASSERT_LT(first, writes.size())
        << "no write of " << rows[0].key << " \"" << rows[0].name << "\"";
    ASSERT_LE(first + rows.size(), writes.size()) << "writes missing after " << rows[0].key;
    for (size_t i = 0; i < rows.size(); ++i) {
      const ValueWrite& w = writes[first + i];
      const ExpectedValue& row = rows[i];
      SCOPED_TRACE("row " + std::to_string(i + 1) + ": " + row.key + " \"" + row.name + "\"");
      EXPECT_TRUE(w.keyKnown);
      EXPECT_EQ(w.root, kHklmHandle);
      EXPECT_EQ(w.key, row.key);
      EXPECT_EQ(w.name, row.name);
      EXPECT_EQ(w.type, row.type);
      EXPECT_EQ(w.count, row.data.size());
    }
  }

  // The trace of a run that must end normally and show nothing.
  static void ExpectQuietRun(const RunResult& r, const RelayTrace& trace, Caller caller = {}) {
    TRACE_CALLER(caller);
    ASSERT_FALSE(r.timedOut);
    ASSERT_TRUE(trace.found) << r.err.substr(0, 2000);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(ExitProcessCode(trace), 0);
    for (const auto& box : MessageBoxes(trace))
      ADD_FAILURE() << "unexpected message box: " << box.text << " [" << box.caption << "]";
  }
};

}  // namespace winetest
