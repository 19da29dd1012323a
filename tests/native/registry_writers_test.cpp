// Registry value writers and the value probe on the simulated machine: the
// exact bytes and types stored, keys created on the way, refused keys, and
// every key handle closed.
#include <gtest/gtest.h>

#include "harness.h"
#include "registry_writers.h"

namespace {

const char kKey[] = "SOFTWARE\\Maker\\Product\\Settings";
const char kEnumRoot[] = "SYSTEM\\CurrentControlSet\\Enum\\Root";

sim::Value Get(const std::string& key, const std::string& name) {
  sim::Value value;
  EXPECT_TRUE(sim::RegGet(HKEY_LOCAL_MACHINE, key, name, &value)) << key << " " << name;
  return value;
}

class RegistryWriters : public ::testing::Test {
 protected:
  void SetUp() override { ResetMachine(sim::Windows::WinXP); }
  void TearDown() override { EXPECT_TRUE(sim::NothingOutstanding()) << sim::OutstandingText(); }
};

TEST_F(RegistryWriters, StringCreatesTheWholePathAndStoresTheTerminatingZero) {
  ASSERT_FALSE(sim::RegKeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Maker"));
  const char text[] = "C:\\Program Files\\Orvo";
  WriteStringValue(HKEY_LOCAL_MACHINE, kKey, "Path", text);
  const sim::Value value = Get(kKey, "Path");
  EXPECT_EQ(value.type, DWORD(REG_SZ));
  EXPECT_EQ(value.data, std::string(text, sizeof(text)));

  // The empty name is the default value; the empty text one zero byte.
  WriteStringValue(HKEY_LOCAL_MACHINE, std::string(kKey) + "\\Empty", "", "");
  const sim::Value empty = Get(std::string(kKey) + "\\Empty", "");
  EXPECT_EQ(empty.type, DWORD(REG_SZ));
  EXPECT_EQ(empty.data, std::string(1, '\0'));
  EXPECT_EQ(sim::RegValueNames(HKEY_LOCAL_MACHINE, std::string(kKey) + "\\Empty"),
            std::vector<std::string>({""}));

  // Text stops at its first zero byte.
  WriteStringValue(HKEY_LOCAL_MACHINE, kKey, "Cut", std::string("ab\0cd", 5));
  EXPECT_EQ(Get(kKey, "Cut").data, std::string("ab\0", 3));
}

TEST_F(RegistryWriters, DwordIsFourBytesLeastSignificantFirst) {
  WriteDwordValue(HKEY_LOCAL_MACHINE, kKey, "Enabled", 1);
  WriteDwordValue(HKEY_LOCAL_MACHINE, kKey, "Mask", 0x12345678);
  EXPECT_EQ(Get(kKey, "Enabled").type, DWORD(REG_DWORD));
  EXPECT_EQ(Get(kKey, "Enabled").data, std::string("\x01\x00\x00\x00", 4));
  EXPECT_EQ(Get(kKey, "Mask").data, std::string("\x78\x56\x34\x12", 4));
}

TEST_F(RegistryWriters, RawAndBinaryBlocksAreStoredExactly) {
  const std::string path = "\\SystemRoot\\System32\\zz.sys";  // counted with its zero
  WriteRawValue(HKEY_LOCAL_MACHINE, kKey, "ImagePath", reinterpret_cast<const BYTE*>(path.c_str()),
                static_cast<DWORD>(path.size() + 1), REG_EXPAND_SZ);
  EXPECT_EQ(Get(kKey, "ImagePath").type, DWORD(REG_EXPAND_SZ));
  EXPECT_EQ(Get(kKey, "ImagePath").data, std::string(path.c_str(), path.size() + 1));

  // Nothing appended, even to text types: the caller's count is the count.
  const char multi[] = "one\0two\0";
  WriteRawValue(HKEY_LOCAL_MACHINE, kKey, "List", reinterpret_cast<const BYTE*>(multi), 8,
                REG_MULTI_SZ);
  EXPECT_EQ(Get(kKey, "List").data, std::string(multi, 8));
  WriteRawValue(HKEY_LOCAL_MACHINE, kKey, "NoZero", reinterpret_cast<const BYTE*>("abc"), 3,
                REG_EXPAND_SZ);
  EXPECT_EQ(Get(kKey, "NoZero").data, "abc");

  const BYTE bytes[] = {0x00, 0xFF, 0x10, 0x00, 0x7F};
  WriteBinaryValue(HKEY_LOCAL_MACHINE, kKey, "Block", bytes, sizeof(bytes));
  EXPECT_EQ(Get(kKey, "Block").type, DWORD(REG_BINARY));
  EXPECT_EQ(Get(kKey, "Block").data,
            std::string(reinterpret_cast<const char*>(bytes), sizeof(bytes)));
  WriteBinaryValue(HKEY_LOCAL_MACHINE, kKey, "Nothing", bytes, 0);
  EXPECT_EQ(Get(kKey, "Nothing").type, DWORD(REG_BINARY));
  EXPECT_EQ(Get(kKey, "Nothing").data, "");
}

TEST_F(RegistryWriters, AValueOfAnotherTypeIsReplaced) {
  sim::RegPutDword(HKEY_LOCAL_MACHINE, kKey, "Config", 7);
  WriteStringValue(HKEY_LOCAL_MACHINE, kKey, "Config", "x");
  EXPECT_EQ(Get(kKey, "Config").type, DWORD(REG_SZ));
  EXPECT_EQ(Get(kKey, "Config").data, std::string("x\0", 2));
  WriteDwordValue(HKEY_LOCAL_MACHINE, kKey, "Config", 2);
  EXPECT_EQ(Get(kKey, "Config").type, DWORD(REG_DWORD));
  EXPECT_EQ(Get(kKey, "Config").data, sim::DwordOf(2));
  EXPECT_EQ(sim::RegValueNames(HKEY_LOCAL_MACHINE, kKey), std::vector<std::string>({"Config"}));
}

TEST_F(RegistryWriters, EachWriterIsOneCreateOneSetOneClose) {
  sim::ClearTrace();
  WriteStringValue(HKEY_CURRENT_USER, kKey, "A", "a");
  const std::vector<sim::Call> trace = sim::Trace();
  ASSERT_EQ(trace.size(), 3u) << sim::TraceText();
  EXPECT_EQ(trace[0].function, "RegCreateKeyExA");
  EXPECT_EQ(trace[1].function, "RegSetValueExA");
  EXPECT_EQ(trace[2].function, "RegCloseKey");
  sim::Value value;
  EXPECT_TRUE(sim::RegGet(HKEY_CURRENT_USER, kKey, "A", &value));
}

TEST_F(RegistryWriters, AKeyThatCannotBeCreatedLeavesEverythingAsItWas) {
  // The device enumeration tree is not writable by administrators.
  const std::string before = sim::Dump();
  sim::ClearTrace();
  WriteStringValue(HKEY_LOCAL_MACHINE, std::string(kEnumRoot) + "\\NEWDEV\\0000", "Class", "x");
  WriteDwordValue(HKEY_LOCAL_MACHINE, std::string(kEnumRoot) + "\\NEWDEV\\0000", "Flags", 1);
  EXPECT_EQ(sim::DiffDumps(before, sim::Dump()), "");
  EXPECT_EQ(CallsOf("RegSetValueExA"), 0u);
  EXPECT_EQ(CallsOf("RegCloseKey"), 0u);
  EXPECT_TRUE(sim::Boxes().empty());
}

TEST_F(RegistryWriters, ARefusedSetStillClosesTheKey) {
  sim::FailFunction("RegSetValueExA");
  WriteDwordValue(HKEY_LOCAL_MACHINE, kKey, "Enabled", 1);
  EXPECT_EQ(CallsOf("RegCloseKey"), 1u);
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
