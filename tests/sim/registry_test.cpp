// The simulated registry: keys and values through the Win32 calls, the rules
// that differ between the families, access checks, open handles to removed
// keys, and the REGEDIT4 listing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "installer_process.h"
#include "registry_fixture.h"
#include "sim.h"
#include "text.h"

namespace {

const char kEnumRoot[] = "SYSTEM\\CurrentControlSet\\Enum\\Root";
const char kEngine[] = "Software\\Miravelt\\Engine";

HKEY Create(HKEY root, const char* path, DWORD* disposition = nullptr, LONG* status = nullptr) {
  HKEY key = nullptr;
  DWORD d = 0;
  const LONG r = RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                 nullptr, &key, &d);
  if (disposition) *disposition = d;
  if (status) *status = r;
  return r == ERROR_SUCCESS ? key : nullptr;
}

LONG Open(HKEY root, const char* path, REGSAM access, HKEY* key) {
  *key = nullptr;
  return RegOpenKeyExA(root, path, 0, access, key);
}

class Registry : public RegistryFixture {};

TEST_F(Registry, CreateMakesEveryMissingKeyAndNamesKeepTheirCase) {
  DWORD disposition = 0;
  HKEY key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Maker\\Product\\Sub", &disposition);
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(disposition, DWORD(REG_CREATED_NEW_KEY));
  EXPECT_NE(key, HKEY_LOCAL_MACHINE);
  EXPECT_EQ(sim::Outstanding()["key"], 1);
  RegCloseKey(key);
  EXPECT_EQ(sim::RegSubkeys(HKEY_LOCAL_MACHINE, "software\\MAKER"),
            std::vector<std::string>{"Product"});

  // Again, in another case and with a trailing backslash: the same key.
  key = Create(HKEY_LOCAL_MACHINE, "software\\maker\\PRODUCT\\sub\\", &disposition);
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(disposition, DWORD(REG_OPENED_EXISTING_KEY));
  RegCloseKey(key);
  EXPECT_EQ(sim::RegSubkeys(HKEY_LOCAL_MACHINE, "SOFTWARE\\Maker\\Product"),
            std::vector<std::string>{"Sub"});

  // A doubled backslash is passed over; a leading one is a bad path.
  HKEY opened;
  EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\\\Maker\\Product", KEY_READ, &opened),
            ERROR_SUCCESS);
  RegCloseKey(opened);
  EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Maker", KEY_READ, &opened), ERROR_BAD_PATHNAME);
  LONG status = 0;
  EXPECT_EQ(Create(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Other", nullptr, &status), nullptr);
  EXPECT_EQ(status, ERROR_BAD_PATHNAME);
  EXPECT_FALSE(sim::RegKeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Other"));

  EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Maker\\Missing\\Deeper", KEY_READ, &opened),
            ERROR_FILE_NOT_FOUND);
  // Below an open key handle.
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Maker", KEY_READ, &opened), ERROR_SUCCESS);
  HKEY below = Create(opened, "Product\\Other");
  ASSERT_NE(below, nullptr);
  RegCloseKey(below);
  RegCloseKey(opened);
  EXPECT_TRUE(sim::RegKeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Maker\\Product\\Other"));
}

TEST_F(Registry, ValuesKeepTheirExactBytesAndType) {
  HKEY key = Create(HKEY_CURRENT_USER, "Software\\Maker");
  ASSERT_NE(key, nullptr);
  const BYTE noZero[] = {'a', 'b', 'c'};
  EXPECT_EQ(RegSetValueExA(key, "Text", 0, REG_SZ, noZero, 3), ERROR_SUCCESS);
  const BYTE multi[] = "one\0two\0";
  EXPECT_EQ(RegSetValueExA(key, "List", 0, REG_MULTI_SZ, multi, 9), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1),
            ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(key, "Null", 0, REG_BINARY, nullptr, 4), ERROR_NOACCESS);

  sim::Value value;
  ASSERT_TRUE(sim::RegGet(HKEY_CURRENT_USER, "Software\\Maker", "text", &value));
  EXPECT_EQ(value.type, DWORD(REG_SZ));
  EXPECT_EQ(value.data, "abc");  // nothing appended
  ASSERT_TRUE(sim::RegGet(HKEY_CURRENT_USER, "Software\\Maker", "List", &value));
  EXPECT_EQ(value.data, std::string("one\0two\0\0", 9));
  ASSERT_TRUE(sim::RegGet(HKEY_CURRENT_USER, "Software\\Maker", "", &value));
  EXPECT_EQ(value.data, std::string(1, '\0'));

  // Another type under the same name replaces it in place.
  DWORD one = 1;
  EXPECT_EQ(RegSetValueExA(key, "TEXT", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4),
            ERROR_SUCCESS);
  EXPECT_EQ(sim::RegValueNames(HKEY_CURRENT_USER, "Software\\Maker"),
            (std::vector<std::string>{"Text", "List", ""}));

  // Queries: presence only, size only, too small, whole.
  DWORD type = 0;
  EXPECT_EQ(RegQueryValueExA(key, "List", nullptr, &type, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(type, DWORD(REG_MULTI_SZ));
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "List", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 9u);
  BYTE buffer[16];
  std::memset(buffer, 'x', sizeof buffer);
  size = 4;
  EXPECT_EQ(RegQueryValueExA(key, "List", nullptr, nullptr, buffer, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 9u);
  EXPECT_EQ(buffer[0], 'x');
  size = sizeof buffer;
  EXPECT_EQ(RegQueryValueExA(key, "List", nullptr, nullptr, buffer, &size), ERROR_SUCCESS);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), size), std::string(multi, multi + 9));
  EXPECT_EQ(RegQueryValueExA(key, "List", nullptr, nullptr, buffer, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegQueryValueExA(key, "Absent", nullptr, &type, nullptr, nullptr),
            ERROR_FILE_NOT_FOUND);

  // A removed value leaves the others in order, each still found by name.
  EXPECT_EQ(RegDeleteValueA(key, "text"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(key, "Text"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegSetValueExA(key, "Text", 0, REG_SZ, noZero, 3), ERROR_SUCCESS);
  EXPECT_EQ(sim::RegValueNames(HKEY_CURRENT_USER, "Software\\Maker"),
            (std::vector<std::string>{"List", "", "Text"}));
  ASSERT_TRUE(sim::RegGet(HKEY_CURRENT_USER, "Software\\Maker", "list", &value));
  EXPECT_EQ(value.type, DWORD(REG_MULTI_SZ));
  ASSERT_TRUE(sim::RegGet(HKEY_CURRENT_USER, "Software\\Maker", "TEXT", &value));
  EXPECT_EQ(value.data, "abc");
  RegCloseKey(key);
}

TEST_F(Registry, SubkeysAreEnumeratedByIndexInCreationOrder) {
  sim::Reset(sim::Windows::Win98);  // the NT family enumerates subkeys sorted by name
  for (const char* name : {"Zeta", "alpha", "Mid"}) {
    sim::RegPutKey(HKEY_LOCAL_MACHINE, std::string("SOFTWARE\\List\\") + name);
  }
  sim::RegPutString(HKEY_LOCAL_MACHINE, "SOFTWARE\\List", "LongerName", "1234567");
  HKEY key;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\List", KEY_READ, &key), ERROR_SUCCESS);
  DWORD subkeys = 0, longest = 0, values = 0, longestName = 0, longestData = 0;
  ASSERT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, &longest, nullptr, &values,
                             &longestName, &longestData, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subkeys, 3u);
  EXPECT_EQ(longest, 5u);  // characters, without the zero
  EXPECT_EQ(values, 1u);
  EXPECT_EQ(longestName, 10u);
  EXPECT_EQ(longestData, 8u);

  std::vector<std::string> names;
  char name[8];
  for (DWORD i = 0;; ++i) {
    DWORD length = sizeof name;
    const LONG r = RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(r, ERROR_SUCCESS);
    EXPECT_EQ(length, std::strlen(name));
    names.push_back(name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Zeta", "alpha", "Mid"}));
  // The name and its zero must fit.
  DWORD length = 4;
  EXPECT_EQ(RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);
  EXPECT_EQ(length, 4u);
  length = 5;
  EXPECT_EQ(RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_STREQ(name, "Zeta");
  RegCloseKey(key);
}

// The index order through any mix of new keys, in and out of order, and
// removals: the NT family's is the upper-cased names sorted, the 9x family's
// the order of creation. Values keep theirs whatever is written over them.
TEST_F(Registry, IndexOrderHoldsThroughInsertionsAndRemovals) {
  for (sim::Windows version : {sim::Windows::Win98, sim::Windows::WinXP}) {
    sim::Reset(version);
    const bool nt = !sim::Is9x(version);
    const std::string list = "SOFTWARE\\Order";
    sim::RegPutKey(HKEY_LOCAL_MACHINE, list);
    std::vector<std::string> made;  // in creation order
    unsigned seed = 7;
    for (int step = 0; step < 300; ++step) {
      seed = seed * 1103515245u + 12345u;
      const unsigned pick = (seed >> 8) % 1000;
      if (pick % 4 == 0 && !made.empty()) {
        const size_t at = pick % made.size();
        sim::RegRemoveKey(HKEY_LOCAL_MACHINE, list + "\\" + made[at]);
        made.erase(made.begin() + static_cast<long>(at));
      } else {
        // Names out of order and in both cases, some coming last.
        std::string name = (pick % 3 ? "k" : "K") + std::to_string(pick % 2 ? pick : 5000 + step);
        if (std::find_if(made.begin(), made.end(), [&](const std::string& m) {
              return text::EqualNoCase(m, name);
            }) != made.end()) {
          continue;
        }
        sim::RegPutKey(HKEY_LOCAL_MACHINE, list + "\\" + name);
        made.push_back(name);
      }
      if (step % 50 != 49) continue;
      std::vector<std::string> expected = made;
      if (nt) {
        std::sort(expected.begin(), expected.end(), [](const std::string& a, const std::string& b) {
          return text::Upper(a) < text::Upper(b);
        });
      }
      ASSERT_EQ(sim::RegSubkeys(HKEY_LOCAL_MACHINE, list), expected) << sim::WindowsName(version);
      HKEY key;
      ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, list.c_str(), KEY_READ, &key), ERROR_SUCCESS);
      for (DWORD i = 0; i <= expected.size(); ++i) {
        char name[32];
        DWORD length = sizeof name;
        const LONG r = RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
        ASSERT_EQ(r, i < expected.size() ? ERROR_SUCCESS : ERROR_NO_MORE_ITEMS);
        if (r == ERROR_SUCCESS) {
          EXPECT_EQ(name, expected[i]) << sim::WindowsName(version);
        }
      }
      RegCloseKey(key);
    }
    for (const char* name : {"b", "A", "c", "B", "a"}) {
      sim::RegPutDword(HKEY_LOCAL_MACHINE, list, name, 1);
    }
    EXPECT_EQ(sim::RegValueNames(HKEY_LOCAL_MACHINE, list),
              (std::vector<std::string>{"b", "A", "c"}));
  }
}

TEST_F(Registry, DeletionRulesOfEachFamily) {
  for (sim::Windows version : {sim::Windows::WinXP, sim::Windows::Win98}) {
    SCOPED_TRACE(sim::WindowsName(version));
    sim::Reset(version);
    sim::RegPutKey(HKEY_CURRENT_USER, std::string(kEngine) + "\\Audio\\Deep");
    const LONG withSubkeys = RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Miravelt\\Engine\\");
    if (sim::Is9x(version)) {
      // The 9x family removes the whole tree at once.
      EXPECT_EQ(withSubkeys, ERROR_SUCCESS);
      EXPECT_FALSE(sim::RegKeyExists(HKEY_CURRENT_USER, kEngine));
    } else {
      EXPECT_EQ(withSubkeys, ERROR_ACCESS_DENIED);
      EXPECT_TRUE(sim::RegKeyExists(HKEY_CURRENT_USER, std::string(kEngine) + "\\Audio\\Deep"));
      EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Miravelt\\Engine\\Audio\\Deep"),
                ERROR_SUCCESS);
      EXPECT_FALSE(sim::RegKeyExists(HKEY_CURRENT_USER, std::string(kEngine) + "\\Audio\\Deep"));
    }
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Missing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, nullptr), ERROR_INVALID_PARAMETER);

    // Values: by name in any case, the default value by no name; the others
    // keep their order. The NT family wants the right to set values; like
    // every registry call, a refusal leaves the last error alone.
    const std::string run = "Software\\Run";
    sim::RegPutString(HKEY_CURRENT_USER, run, "", "default");
    sim::RegPutString(HKEY_CURRENT_USER, run, "First", "1");
    sim::RegPutString(HKEY_CURRENT_USER, run, "Realtime Audio Engine", "zoltavex.exe");
    sim::RegPutString(HKEY_CURRENT_USER, run, "Last", "2");
    HKEY readOnly;
    ASSERT_EQ(Open(HKEY_CURRENT_USER, run.c_str(), KEY_READ, &readOnly), ERROR_SUCCESS);
    SetLastError(1234);
    EXPECT_EQ(RegDeleteValueA(readOnly, "First"),
              sim::Is9x(version) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED);
    EXPECT_EQ(GetLastError(), 1234u);
    RegCloseKey(readOnly);
    HKEY key;
    ASSERT_EQ(Open(HKEY_CURRENT_USER, run.c_str(), KEY_SET_VALUE, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(key, "REALTIME audio engine"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(key, "Realtime Audio Engine"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueA(key, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(key, ""), ERROR_FILE_NOT_FOUND);
    const std::vector<std::string> left = sim::Is9x(version)
                                              ? std::vector<std::string>{"Last"}
                                              : std::vector<std::string>{"First", "Last"};
    EXPECT_EQ(sim::RegValueNames(HKEY_CURRENT_USER, run), left);
    EXPECT_EQ(sim::Trace().back().args, "[HKEY_CURRENT_USER\\Software\\Run], \"\"");
    RegCloseKey(key);
    EXPECT_EQ(RegDeleteValueA(nullptr, "Last"), ERROR_INVALID_HANDLE);
  }
}

TEST_F(Registry, HandlesToARemovedKeyAnswerKeyDeleted) {
  sim::RegPutKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Gone\\Child");
  HKEY child;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Gone\\Child", KEY_ALL_ACCESS, &child),
            ERROR_SUCCESS);
  HKEY parent;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Gone", KEY_ALL_ACCESS, &parent), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteKeyA(child, ""), ERROR_SUCCESS);  // the key of the handle itself
  EXPECT_EQ(RegSetValueExA(child, "v", 0, REG_BINARY, reinterpret_cast<const BYTE*>("a"), 1),
            ERROR_KEY_DELETED);
  EXPECT_EQ(RegQueryValueExA(child, "v", nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
  HKEY again;
  EXPECT_EQ(Open(child, "", KEY_READ, &again), ERROR_KEY_DELETED);

  // A subtree removed by a test takes its open handles with it too.
  sim::RegRemoveKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Gone");
  EXPECT_EQ(RegQueryInfoKeyA(parent, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr),
            ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(child), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(child), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(parent), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
}

TEST_F(Registry, AccessListsDecideOnTheNtFamilyOnly) {
  // The device tree: readable, but not writable, by an administrator.
  HKEY key;
  EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, kEnumRoot, KEY_ALL_ACCESS, &key), ERROR_ACCESS_DENIED);
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, kEnumRoot, KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(key, "v", 0, REG_BINARY, reinterpret_cast<const BYTE*>("a"), 1),
            ERROR_ACCESS_DENIED);
  RegCloseKey(key);
  LONG status = 0;
  EXPECT_EQ(Create(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Enum\\Root\\NEW\\0000", nullptr,
                   &status),
            nullptr);
  EXPECT_EQ(status, ERROR_ACCESS_DENIED);
  EXPECT_FALSE(sim::RegKeyExists(HKEY_LOCAL_MACHINE, std::string(kEnumRoot) + "\\NEW"));
  EXPECT_TRUE(sim::UserMayAccess(HKEY_LOCAL_MACHINE, kEnumRoot, READ_CONTROL | WRITE_DAC));

  // A plain user may read the machine's software keys but not write them.
  sim::SetUserGroups({"S-1-5-32-545"});
  EXPECT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Maker", nullptr, &status), nullptr);
  EXPECT_EQ(status, ERROR_ACCESS_DENIED);
  EXPECT_TRUE(sim::UserMayAccess(HKEY_LOCAL_MACHINE, "SOFTWARE", KEY_READ));
  // The user's own key stays the user's.
  HKEY own = Create(HKEY_CURRENT_USER, "Software\\Maker");
  EXPECT_NE(own, nullptr);
  RegCloseKey(own);

  // A deny entry ahead of the allow entries wins.
  sim::SetUserGroups({"S-1-5-32-544"});
  sim::RegPutKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Locked\\Inner");
  sim::KeySecurity security = sim::GetKeySecurity(HKEY_LOCAL_MACHINE, "SOFTWARE\\Locked\\Inner");
  sim::Ace deny;
  deny.type = ACCESS_DENIED_ACE_TYPE;
  deny.mask = DELETE;
  deny.sid = "S-1-1-0";
  security.dacl.insert(security.dacl.begin(), deny);
  sim::SetKeySecurity(HKEY_LOCAL_MACHINE, "SOFTWARE\\Locked\\Inner", security);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Locked\\Inner"), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(sim::UserMayAccess(HKEY_LOCAL_MACHINE, "SOFTWARE\\Locked\\Inner", KEY_READ));

  // The 9x registry has no security at all.
  sim::Reset(sim::Windows::Win98);
  EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, "Enum\\Root", KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  RegCloseKey(key);
}

TEST_F(Registry, PredefinedRootsAndUsers) {
  // The current user's key lies below HKEY_USERS; another user has the same
  // engine settings, untouched by whatever the current user's key goes
  // through.
  sim::PutHostEngineSettings();
  const std::string user = sim::CurrentUserSid();
  EXPECT_TRUE(sim::RegKeyExists(HKEY_USERS, user + "\\" + kEngine));
  EXPECT_TRUE(sim::RegKeyExists(HKEY_CURRENT_USER, kEngine));
  std::string other;
  for (const std::string& name : sim::RegSubkeys(HKEY_USERS, "")) {
    if (name != user && name != ".DEFAULT") other = name;
  }
  ASSERT_FALSE(other.empty());
  EXPECT_EQ(sim::RegSubkeys(HKEY_USERS, other + "\\" + kEngine),
            sim::RegSubkeys(HKEY_CURRENT_USER, kEngine));
  sim::RegRemoveKey(HKEY_CURRENT_USER, kEngine);
  EXPECT_FALSE(sim::RegKeyExists(HKEY_USERS, user + "\\" + kEngine));
  EXPECT_TRUE(sim::RegKeyExists(HKEY_USERS, other + "\\" + kEngine));

  // Classes and the current configuration are views into the machine's keys.
  sim::RegPutString(HKEY_CLASSES_ROOT, ".orv", "", "OrvoSong");
  EXPECT_TRUE(sim::RegKeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.orv"));
  EXPECT_TRUE(sim::RegKeyExists(HKEY_CURRENT_CONFIG, ""));

  // An empty path on a predefined root answers the root itself.
  HKEY key;
  EXPECT_EQ(Open(HKEY_CURRENT_USER, "", KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(key, HKEY_CURRENT_USER);
  EXPECT_EQ(Open(HKEY_PERFORMANCE_DATA, "x", KEY_READ, &key), ERROR_INVALID_HANDLE);
}

TEST_F(Registry, CallsAreTracedAndCanBeFailed) {
  sim::ClearTrace();
  sim::FailFunction("RegOpenKeyExA", "Miravelt");
  HKEY key;
  EXPECT_EQ(Open(HKEY_CURRENT_USER, kEngine, KEY_READ, &key), ERROR_ACCESS_DENIED);
  ASSERT_EQ(Open(HKEY_CURRENT_USER, "Software", KEY_READ, &key), ERROR_SUCCESS);
  const BYTE data[] = "x\"y";
  sim::ClearFaults();
  HKEY written = Create(key, "Maker");
  RegSetValueExA(written, "Name", 0, REG_SZ, data, 4);
  RegCloseKey(written);
  RegCloseKey(key);

  const std::vector<sim::Call>& trace = sim::Trace();
  ASSERT_EQ(trace.size(), 6u) << sim::TraceText();
  EXPECT_TRUE(trace[0].injected);
  EXPECT_EQ(trace[0].result, std::to_string(ERROR_ACCESS_DENIED));
  EXPECT_EQ(trace[1].args.find("HKEY_CURRENT_USER, \"Software\""), 0u) << trace[1].args;
  // Calls on a handle name the key it stands for, and data shows as bytes.
  EXPECT_NE(trace[3].args.find("HKEY_CURRENT_USER\\Software\\Maker"), std::string::npos)
      << trace[3].args;
  EXPECT_NE(trace[3].args.find("\"Name\", 0, 1, \"x\\\"y\\x00\", 4"), std::string::npos)
      << trace[3].args;
}

TEST_F(Registry, RegistryTextShowsExactBytes) {
  const std::string key = "SOFTWARE\\Listed";
  sim::RegPutString(HKEY_LOCAL_MACHINE, key, "", "C:\\A \"B\"");
  sim::RegPut(HKEY_LOCAL_MACHINE, key, "Cut", REG_SZ, "ab");
  sim::RegPut(HKEY_LOCAL_MACHINE, key, "Twice", REG_SZ, std::string("ab\0\0", 4));
  sim::RegPutDword(HKEY_LOCAL_MACHINE, key, "Number", 0x1234);
  sim::RegPut(HKEY_LOCAL_MACHINE, key, "Bytes", REG_BINARY, "\x3a\x7c");
  sim::RegPut(HKEY_LOCAL_MACHINE, key, "Path", REG_EXPAND_SZ, std::string("%a%\0", 4));
  sim::RegPutKey(HKEY_LOCAL_MACHINE, key + "\\Sub");
  EXPECT_EQ(sim::RegistryText(HKEY_LOCAL_MACHINE, "software\\listed\\"),
            "REGEDIT4\n"
            "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Listed]\n"
            "@=\"C:\\\\A \\\"B\\\"\"\n"
            "\"Cut\"=hex(1):61,62\n"
            "\"Twice\"=hex(1):61,62,00,00\n"
            "\"Number\"=dword:00001234\n"
            "\"Bytes\"=hex:3a,7c\n"
            "\"Path\"=hex(2):25,61,25,00\n"
            "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Listed\\Sub]\n");
  const std::string all = sim::RegistryText();
  EXPECT_NE(all.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Listed\\Sub]"), std::string::npos);
  EXPECT_NE(all.find("[HKEY_USERS\\" + sim::CurrentUserSid() + "]"), std::string::npos);
}

}  // namespace
