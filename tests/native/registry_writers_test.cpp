// Registry value writers and the value probe on the simulated machine: the
// exact bytes and types stored, keys created on the way, refused keys, and
// every key handle closed.
#include <gtest/gtest.h>

#include "harness.h"
#include "registry_writers.h"

namespace {

const char kKey[] = "SOFTWARE\\Maker\\Product\\Settings";
const char kEnumRoot[] = "SYSTEM\\CurrentControlSet\\Enum\\Root";

size_t CallsOf(const std::string& function) {
  size_t n = 0;
  for (const sim::Call& call : sim::Trace()) n += call.function == function;
  return n;
}

sim::Value Get(const std::string& key, const std::string& name) {
  sim::Value value;
  EXPECT_TRUE(sim::RegGet(HKEY_LOCAL_MACHINE, key, name, &value)) << key << " " << name;
  return value;
}

class RegistryWriters : public ::testing::Test {
 protected:
  void SetUp() override { sim::Reset(sim::Windows::WinXP); }
  void TearDown() override { EXPECT_TRUE(sim::NothingOutstanding()) << sim::OutstandingText(); }
};

TEST_F(RegistryWriters, StringCreatesTheWholePathAndStoresTheTerminatingZero) {
  ASSERT_FALSE(sim::RegKeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Maker"));
  const char text[] = "C:\\Program Files\\Orvo";
  WriteStringValue(HKEY_LOCAL_MACHINE, kKey, "Path", text);
  const sim::Value value = Get(kKey, "Path");
  EXPECT_EQ(DWORD(REG_SZ), value.type);
  EXPECT_EQ(std::string(text, sizeof(text)), value.data);

  // The empty name is the default value; the empty text one zero byte.
  WriteStringValue(HKEY_LOCAL_MACHINE, std::string(kKey) + "\\Empty", "", "");
  const sim::Value empty = Get(std::string(kKey) + "\\Empty", "");
  EXPECT_EQ(DWORD(REG_SZ), empty.type);
  EXPECT_EQ(std::string(1, '\0'), empty.data);
  EXPECT_EQ(std::vector<std::string>({""}),
            sim::RegValueNames(HKEY_LOCAL_MACHINE, std::string(kKey) + "\\Empty"));

  // Text stops at its first zero byte.
  WriteStringValue(HKEY_LOCAL_MACHINE, kKey, "Cut", std::string("ab\0cd", 5));
  EXPECT_EQ(std::string("ab\0", 3), Get(kKey, "Cut").data);
}

TEST_F(RegistryWriters, DwordIsFourBytesLeastSignificantFirst) {
  WriteDwordValue(HKEY_LOCAL_MACHINE, kKey, "Enabled", 1);
  WriteDwordValue(HKEY_LOCAL_MACHINE, kKey, "Mask", 0x12345678);
  EXPECT_EQ(DWORD(REG_DWORD), Get(kKey, "Enabled").type);
  EXPECT_EQ(std::string("\x01\x00\x00\x00", 4), Get(kKey, "Enabled").data);
  EXPECT_EQ(std::string("\x78\x56\x34\x12", 4), Get(kKey, "Mask").data);
}

TEST_F(RegistryWriters, RawAndBinaryBlocksAreStoredExactly) {
  const std::string path = "\\SystemRoot\\System32\\zz.sys";  // counted with its zero
  WriteRawValue(HKEY_LOCAL_MACHINE, kKey, "ImagePath", reinterpret_cast<const BYTE*>(path.c_str()),
                static_cast<DWORD>(path.size() + 1), REG_EXPAND_SZ);
  EXPECT_EQ(DWORD(REG_EXPAND_SZ), Get(kKey, "ImagePath").type);
  EXPECT_EQ(std::string(path.c_str(), path.size() + 1), Get(kKey, "ImagePath").data);

  // Nothing appended, even to text types: the caller's count is the count.
  const char multi[] = "one\0two\0";
  WriteRawValue(HKEY_LOCAL_MACHINE, kKey, "List", reinterpret_cast<const BYTE*>(multi), 8,
                REG_MULTI_SZ);
  EXPECT_EQ(std::string(multi, 8), Get(kKey, "List").data);
  WriteRawValue(HKEY_LOCAL_MACHINE, kKey, "NoZero", reinterpret_cast<const BYTE*>("abc"), 3,
                REG_EXPAND_SZ);
  EXPECT_EQ("abc", Get(kKey, "NoZero").data);

  const BYTE bytes[] = {0x00, 0xFF, 0x10, 0x00, 0x7F};
  WriteBinaryValue(HKEY_LOCAL_MACHINE, kKey, "Block", bytes, sizeof(bytes));
  EXPECT_EQ(DWORD(REG_BINARY), Get(kKey, "Block").type);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes), sizeof(bytes)),
            Get(kKey, "Block").data);
  WriteBinaryValue(HKEY_LOCAL_MACHINE, kKey, "Nothing", bytes, 0);
  EXPECT_EQ(DWORD(REG_BINARY), Get(kKey, "Nothing").type);
  EXPECT_EQ("", Get(kKey, "Nothing").data);
}

TEST_F(RegistryWriters, AValueOfAnotherTypeIsReplaced) {
  sim::RegPutDword(HKEY_LOCAL_MACHINE, kKey, "Config", 7);
  WriteStringValue(HKEY_LOCAL_MACHINE, kKey, "Config", "x");
  EXPECT_EQ(DWORD(REG_SZ), Get(kKey, "Config").type);
  EXPECT_EQ(std::string("x\0", 2), Get(kKey, "Config").data);
  WriteDwordValue(HKEY_LOCAL_MACHINE, kKey, "Config", 2);
  EXPECT_EQ(DWORD(REG_DWORD), Get(kKey, "Config").type);
  EXPECT_EQ(sim::DwordOf(2), Get(kKey, "Config").data);
  EXPECT_EQ(std::vector<std::string>({"Config"}), sim::RegValueNames(HKEY_LOCAL_MACHINE, kKey));
}

TEST_F(RegistryWriters, EachWriterIsOneCreateOneSetOneClose) {
  sim::ClearTrace();
  WriteStringValue(HKEY_CURRENT_USER, kKey, "A", "a");
  const std::vector<sim::Call> trace = sim::Trace();
  ASSERT_EQ(3u, trace.size()) << sim::TraceText();
  EXPECT_EQ("RegCreateKeyExA", trace[0].function);
  EXPECT_EQ("RegSetValueExA", trace[1].function);
  EXPECT_EQ("RegCloseKey", trace[2].function);
  sim::Value value;
  EXPECT_TRUE(sim::RegGet(HKEY_CURRENT_USER, kKey, "A", &value));
}

TEST_F(RegistryWriters, AKeyThatCannotBeCreatedLeavesEverythingAsItWas) {
  // The device enumeration tree is not writable by administrators.
  const std::string before = sim::Dump();
  sim::ClearTrace();
  WriteStringValue(HKEY_LOCAL_MACHINE, std::string(kEnumRoot) + "\\NEWDEV\\0000", "Class", "x");
  WriteDwordValue(HKEY_LOCAL_MACHINE, std::string(kEnumRoot) + "\\NEWDEV\\0000", "Flags", 1);
  EXPECT_EQ("", sim::DiffDumps(before, sim::Dump()));
  EXPECT_EQ(0u, CallsOf("RegSetValueExA"));
  EXPECT_EQ(0u, CallsOf("RegCloseKey"));
  EXPECT_TRUE(sim::Boxes().empty());
}

TEST_F(RegistryWriters, ARefusedSetStillClosesTheKey) {
  sim::FailFunction("RegSetValueExA");
  WriteDwordValue(HKEY_LOCAL_MACHINE, kKey, "Enabled", 1);
  EXPECT_EQ(1u, CallsOf("RegCloseKey"));
  sim::Value value;
  EXPECT_FALSE(sim::RegGet(HKEY_LOCAL_MACHINE, kKey, "Enabled", &value));
}

TEST_F(RegistryWriters, ValueExistsAnswers) {
  EXPECT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, kKey, "Enabled"));  // no key
  sim::RegPutKey(HKEY_LOCAL_MACHINE, kKey);
  EXPECT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, kKey, "Enabled"));  // no value
  EXPECT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, kKey, ""));         // no default value
  WriteDwordValue(HKEY_LOCAL_MACHINE, kKey, "Enabled", 0);
  EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, kKey, "Enabled"));
  EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, kKey, "ENABLED"));
  WriteStringValue(HKEY_LOCAL_MACHINE, kKey, "", "");
  EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, kKey, ""));

  // A key the user may read but not open with full access holds nothing.
  ASSERT_TRUE(sim::RegKeyExists(HKEY_LOCAL_MACHINE, kEnumRoot));
  sim::RegPutString(HKEY_LOCAL_MACHINE, kEnumRoot, "Probe", "x");
  EXPECT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, kEnumRoot, "Probe"));

  // A refused query still closes the key.
  sim::FailFunction("RegQueryValueExA");
  EXPECT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, kKey, "Enabled"));
}

}  // namespace
