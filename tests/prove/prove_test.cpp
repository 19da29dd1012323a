// The proof's own pieces: what a run may look like, the fault campaign's
// bookkeeping, the two traces brought into one form, the state items, and
// the known-difference list.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "differential.h"
#include "fault_campaign.h"
#include "harness.h"
#include "known_differences.h"
#include "machine_state.h"
#include "outcome.h"
#include "sim.h"
#include "text.h"
#include "trace_compare.h"

namespace {

using prove::NormalCall;

sim::Call SimCall(const std::string& function, const std::string& args, const std::string& result) {
  sim::Call call;
  call.function = function;
  call.args = args;
  call.result = result;
  return call;
}

winehost::RelayArg Number(uint64_t value) {
  winehost::RelayArg arg;
  arg.value = value;
  return arg;
}

winehost::RelayArg Text(uint64_t pointer, const std::string& text, bool cut = false) {
  winehost::RelayArg arg = Number(pointer);
  arg.hasText = true;
  arg.text = text;
  arg.truncated = cut;
  return arg;
}

winehost::RelayCall Relay(const std::string& dll, const std::string& function,
                          std::vector<winehost::RelayArg> args, uint64_t retval) {
  winehost::RelayCall call;
  call.dll = dll;
  call.function = function;
  call.args = std::move(args);
  call.returned = true;
  call.retval = retval;
  return call;
}

std::vector<std::string> Texts(const std::vector<NormalCall>& calls) {
  std::vector<std::string> out;
  for (const NormalCall& c : calls) out.push_back(c.Text());
  return out;
}

// ------------------------------------------------------------------ outcome

TEST(Outcome, OnlyTheInstallersOwnBoxesAreAllowed) {
  for (const std::string& text : prove::InstallerMessages()) {
    EXPECT_TRUE(prove::IsAllowedBox({nullptr, text, "Miravelt Installation", 0})) << text;
    EXPECT_FALSE(prove::IsAllowedBox({nullptr, text, "Miravelt Installation", 0x10})) << text;
    EXPECT_FALSE(prove::IsAllowedBox({nullptr, text, "Error", 0})) << text;
  }
  // Texts are compared exactly, typos included.
  EXPECT_FALSE(prove::IsAllowedBox({nullptr, "Unable to copy \"KOVA51USB.INF\" to INF directory !",
                                    "Miravelt Installation", 0}));
  const sim::Box fatal{nullptr, "Unable to write to Wininit.ini", "Application Error", 0x2010};
  EXPECT_TRUE(prove::IsFatalBox(fatal));
  EXPECT_TRUE(prove::IsAllowedBox(fatal));
  EXPECT_FALSE(
      prove::IsFatalBox({nullptr, "Unable to write to Win.ini", "Application Error", 0x2010}));
  EXPECT_FALSE(
      prove::IsFatalBox({nullptr, "Unable to write to System.ini", "Application Error", 0}));
}

TEST(Outcome, FatalWritesAreTheRenameAndFileCacheEntries) {
  EXPECT_EQ(prove::FatalIniFile(SimCall("WritePrivateProfileStringA",
                                        "\"RENAME\", \"C:\\\\W\\\\A.DLL\", \"C:\\\\W\\\\A.DL\", "
                                        "\"Wininit.ini\"",
                                        "0")),
            "Wininit.ini");
  EXPECT_EQ(
      prove::FatalIniFile(SimCall("WritePrivateProfileStringA",
                                  "\"VCache\", \"MaxFileCache\", \"20480\", \"System.ini\"", "0")),
      "System.ini");
  // The cache flush, other sections and other calls end nothing.
  EXPECT_EQ(prove::FatalIniFile(
                SimCall("WritePrivateProfileStringA", "NULL, NULL, NULL, \"SYSTEM.INI\"", "0")),
            "");
  EXPECT_EQ(prove::FatalIniFile(SimCall("WritePrivateProfileStringA",
                                        "\"boot\", \"a\", \"b\", \"System.ini\"", "0")),
            "");
  EXPECT_EQ(prove::FatalIniFile(SimCall("WritePrivateProfileSectionA",
                                        "\"RENAME\", \"a=b\\0\", \"Wininit.ini\"", "0")),
            "");
}

TEST(Outcome, TracedArgumentsSplitAtTheirOwnCommas) {
  EXPECT_EQ(prove::SplitArgs("\"a, b\", [HKEY_X\\a,b], {0,0,1}, 5"),
            (std::vector<std::string>{"\"a, b\"", "[HKEY_X\\a,b]", "{0,0,1}", "5"}));
  EXPECT_EQ(prove::SplitArgs(""), std::vector<std::string>{});
  EXPECT_EQ(text::Unquote("\"C:\\\\A \\\"q\\\"\\x41\\t\""), "C:\\A \"q\"A\t");
  EXPECT_EQ(text::Unquote("NULL"), "NULL");
  // A cut escape at the end is kept as it stands, not read past the quote.
  EXPECT_EQ(text::Unquote("\"a\\x4\""), "a4");
}

// The escapes of a quoted text inside a log line, as Wine prints 8-bit and
// wide strings: the same reader as Unquote, ending at the closing quote.
TEST(Text, QuotedTextInALineReadsToItsClosingQuote) {
  struct Case {
    std::string line;
    size_t open;
    int hexDigits;
    std::string text;
    size_t end;
  };
  const Case cases[] = {
      {"0042 \"C:\\\\A \\\"q\\\"\\x41\" ret", 5, 2, "C:\\A \"q\"A", 22},
      {"L\"a\\x00e9\\x0101b\",1", 1, 4, "a\xe9?b", 17},
      {"\"cut \\x4", 0, 2, "cut 4", 8},
      {"\"open", 0, 2, "open", 5},
      {"\"a\\n\\r\\t\" x \"y\"", 0, 2, "a\n\r\t", 9},
  };
  for (const Case& c : cases) {
    size_t end = 0;
    EXPECT_EQ(text::ReadQuoted(c.line, c.open, &end, c.hexDigits), c.text) << c.line;
    EXPECT_EQ(end, c.end) << c.line;
  }
}

TEST(Text, LinesEndAtNewlinesWithoutTheirCarriageReturns) {
  using V = std::vector<std::string>;
  EXPECT_EQ(text::Lines(""), V{});
  EXPECT_EQ(text::Lines("a\r\nb"), (V{"a", "b"}));
  EXPECT_EQ(text::Lines("a\n\nb\n"), (V{"a", "", "b"}));
  EXPECT_EQ(text::Lines("\r\n"), V{""});
  // Only the line end's carriage return goes.
  EXPECT_EQ(text::Lines("a\rb\r\r\n"), (V{"a\rb\r"}));
}

TEST(Outcome, JudgeFindsLeaksWrongExitCodesAndStrangeBoxes) {
  sim::Reset(sim::Windows::Win98);
  sim::RunResult ended;
  ended.exited = true;
  EXPECT_FALSE(prove::Judge(ended, {}).wrong);

  // Exit code 1 only after a refused fatal write, and then with its box last.
  ended.exitCode = 1;
  EXPECT_TRUE(prove::Judge(ended, {}).wrong);
  prove::Expectation fatal{true, "Wininit.ini"};
  EXPECT_TRUE(prove::Judge(ended, fatal).wrong) << "no box";
  MessageBoxA(nullptr, "Unable to write to Wininit.ini", "Application Error", 0x2010);
  EXPECT_FALSE(prove::Judge(ended, fatal).wrong);
  // On the NT family nothing is fatal.
  EXPECT_TRUE(prove::Judge(ended, {false, "Wininit.ini"}).wrong);

  MessageBoxA(nullptr, "Something else", "Miravelt Installation", 0);
  EXPECT_TRUE(prove::Judge(ended, fatal).wrong);

  sim::Reset(sim::Windows::WinXP);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM", 0, KEY_READ, &key), ERROR_SUCCESS);
  ended.exitCode = 0;
  const prove::Verdict leaked = prove::Judge(ended, {});
  EXPECT_TRUE(leaked.leak);
  EXPECT_NE(leaked.why.find("key"), std::string::npos);
  RegCloseKey(key);

  sim::RunResult returned;  // the program came back instead of ending
  EXPECT_TRUE(prove::Judge(returned, {}).wrong);
}

// ------------------------------------------------------------ fault campaign

TEST(FaultCampaign, RefusedRenameEntryOnThe9xFamilyEndsTheRunWithOne) {
  std::vector<prove::FaultScenario> scenarios = prove::FaultScenarios({sim::Windows::Win98});
  const prove::FaultScenario& rich = scenarios[0];
  rich.build();
  sim::ClearTrace();
  ASSERT_EQ(prove::RunPoint(rich, 0, {}).kind, prove::PointOutcome::kOk);
  rich.build();
  sim::ClearTrace();
  prove::RunPoint(rich, 0, {});
  const std::vector<sim::Call> baseline = sim::Trace();
  size_t rename = 0, flush = 0;
  for (size_t k = 1; k <= baseline.size(); ++k) {
    if (!rename && prove::FatalIniFile(baseline[k - 1]) == "Wininit.ini") rename = k;
    if (!flush && baseline[k - 1].function == "WritePrivateProfileStringA" &&
        prove::FatalIniFile(baseline[k - 1]).empty())
      flush = k;
  }
  ASSERT_NE(rename, 0u);
  ASSERT_NE(flush, 0u);
  EXPECT_EQ(prove::RunPoint(rich, rename, baseline).kind, prove::PointOutcome::kOk);
  EXPECT_EQ(prove::RunPoint(rich, flush, baseline).kind, prove::PointOutcome::kOk);
}

TEST(FaultCampaign, ABuildThatLeavesAKeyOpenIsALeak) {
  prove::FaultScenario leaky{"leaky", sim::Windows::WinXP,
                             [] {
                               sim::Reset(sim::Windows::WinXP);
                               HKEY key;
                               RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM", 0, KEY_READ, &key);
                             },
                             ""};
  const prove::PointOutcome outcome = prove::RunPoint(leaky, 0, {});
  EXPECT_EQ(outcome.kind, prove::PointOutcome::kLeak);
  EXPECT_NE(outcome.detail.find("winxp/leaky"), std::string::npos);
}

TEST(FaultCampaign, ACrashIsCountedAndTheNextPointStillRuns) {
  prove::FaultScenario crashing{"crashing", sim::Windows::WinXP, [] { std::abort(); }, ""};
  const std::vector<prove::PointOutcome> outcomes =
      prove::RunPointsIsolated(crashing, {0, 1, 2}, {});
  ASSERT_EQ(outcomes.size(), 3u);
  for (const prove::PointOutcome& o : outcomes) {
    EXPECT_EQ(o.kind, prove::PointOutcome::kCrash);
    EXPECT_NE(o.detail.find("crashed"), std::string::npos);
  }
  EXPECT_NE(outcomes[2].detail.find("call 2"), std::string::npos);
}

// A clean install of the rich machine and a restart, with the state before
// it and what it may change.
struct CleanInstall {
  prove::MachineState before;
  prove::Allowance allowance;
};
CleanInstall CleanRichInstall(sim::Windows version) {
  const prove::FaultScenario rich = prove::FaultScenarios({version})[0];
  CleanInstall clean;
  rich.build();
  clean.before = prove::ReadMachineState();
  prove::RunPoint(rich, 0, {});
  sim::Restart();
  clean.allowance = prove::AllowanceOf(clean.before, prove::ReadMachineState());
  return clean;
}

TEST(FaultCampaign, TheStateVerdictCatchesWhatABadRunLeaves) {
  const CleanInstall clean = CleanRichInstall(sim::Windows::WinXP);
  const prove::MachineState installed = prove::ReadMachineState();
  EXPECT_EQ(prove::JudgeState(clean.before, installed, clean.allowance), "");

  struct Case {
    const char* what;
    void (*spoil)();
    const char* reason;  // part of the verdict
  } cases[] = {
      {"the setup program deleted", [] { sim::Remove("C:\\SETUP\\SETUP.EXE"); },
       "lost file C:\\SETUP\\SETUP.EXE"},
      {"a replaced file without its backup",
       [] { sim::Remove(sim::WindowsFolder() + "\\SYSTEM\\WOWPOST.OLD"); },
       "lost file C:\\WINDOWS\\SYSTEM\\WOWPOST.EXE"},
      {"an unrelated value changed",
       [] { sim::RegPutString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes", "Other", "x"); },
       "changed reg HKLM\\SOFTWARE\\CLASSES : OTHER"},
      {"an unrelated INI line changed",
       [] {
         sim::PutIni(sim::WindowsFolder() + "\\WIN.INI",
                     sim::IniText(sim::WindowsFolder() + "\\WIN.INI") + "x=1\r\n");
       },
       "changed ini C:\\WINDOWS\\WIN.INI"},
      {"Everyone left with full access to Enum\\Root",
       [] {
         sim::KeySecurity security =
             sim::GetKeySecurity(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Enum\\Root");
         security.dacl.insert(security.dacl.begin(),
                              sim::Ace{ACCESS_ALLOWED_ACE_TYPE, 3, GENERIC_ALL, "S-1-1-0"});
         sim::SetKeySecurity(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Enum\\Root", security);
       },
       "the access list of Enum\\Root is not the one before the run"},
  };
  for (const Case& c : cases) {
    CleanRichInstall(sim::Windows::WinXP);
    c.spoil();
    const std::string why =
        prove::JudgeState(clean.before, prove::ReadMachineState(), clean.allowance);
    EXPECT_NE(why.find(c.reason), std::string::npos) << c.what << ": " << why;
  }
}

// Two refusals once let through as known outcomes, injected on their own:
// the backup rename of a staged replacement (NT family) and the read of
// [386Enh] (9x family). Nothing may be lost either way.
TEST(FaultCampaign, RefusedBackupRenameAndSectionReadLoseNothing) {
  const struct {
    sim::Windows version;
    const char* function;
    const char* argument;
  } cases[] = {{sim::Windows::WinXP, "MoveFileExA", ".OLD\""},
               {sim::Windows::Win2k, "MoveFileExA", "WOWPOST.OLD\""},
               {sim::Windows::Win98, "GetPrivateProfileSectionA", "\"386Enh\""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(sim::WindowsName(c.version)) + " " + c.function);
    const prove::FaultScenario rich = prove::FaultScenarios({c.version})[0];
    const CleanInstall clean = CleanRichInstall(c.version);
    rich.build();
    sim::ClearTrace();
    prove::RunPoint(rich, 0, {});
    const std::vector<sim::Call> baseline = sim::Trace();
    size_t k = 0;
    for (size_t i = 1; i <= baseline.size() && !k; ++i) {
      if (baseline[i - 1].function == c.function &&
          baseline[i - 1].args.find(c.argument) != std::string::npos)
        k = i;
    }
    ASSERT_NE(k, 0u) << sim::TraceText();
    const prove::PointOutcome outcome = prove::RunPoint(rich, k, baseline, &clean.allowance);
    EXPECT_EQ(outcome.kind, prove::PointOutcome::kOk) << outcome.detail;
  }
}

// Persistent faults: from the withdrawal of the grant on, every call fails;
// the list of the machine with a list of its own comes back with the next
// run. From the first call on nothing at all happens.
TEST(FaultCampaign, PersistentFaultsLoseNeitherTheListNorAnythingElse) {
  const prove::FaultScenario custom = prove::VariedScenario(sim::Windows::WinXP);
  std::vector<prove::MachineState> cleans(1);
  custom.build();
  sim::ClearTrace();
  RunInstaller(custom.arguments);
  const std::vector<sim::Call> baseline = sim::Trace();
  sim::Restart();
  cleans[0] = prove::ReadMachineState();
  size_t withdrawal = 0;
  for (size_t i = 1; i <= baseline.size(); ++i) {
    if (baseline[i - 1].function == "SetNamedSecurityInfoA") withdrawal = i;
  }
  ASSERT_NE(withdrawal, 0u);
  for (size_t k : {size_t(1), withdrawal, baseline.size() - 1}) {
    const prove::PointOutcome outcome = prove::RunPersistentPoint(custom, k, baseline, cleans);
    EXPECT_EQ(outcome.kind, prove::PointOutcome::kOk) << outcome.detail;
  }
}

// ------------------------------------------------------------- power loss

TEST(PowerLoss, TheKnownListDropsOnlyItsOwnLines) {
  sim::Reset(sim::Windows::Win98);
  const std::string clean = prove::SettledState();
  sim::PutFile(sim::WindowsFolder() + "\\WININIT.BAK", "[rename]\r\n");
  EXPECT_EQ(prove::SettledState(), clean);
  sim::PutFile(sim::WindowsFolder() + "\\WININIT.INI", "[rename]\r\n");
  EXPECT_NE(prove::SettledState(), clean);
  for (const prove::HarmlessLine& line : prove::HarmlessLines())
    EXPECT_GT(std::string(line.reason).size(), 20u) << line.endsWith;
}

TEST(PowerLoss, ACutBeforeTheFirstOrLastCallConvergesAndAStrayChangeDoesNot) {
  for (sim::Windows version : {sim::Windows::Win98, sim::Windows::WinXP}) {
    const prove::FaultScenario rich = prove::PowerLossScenarios({version}, false)[0];
    rich.build();
    sim::ClearTrace();
    prove::RunPoint(rich, 0, {});
    const size_t calls = sim::CallCount();
    sim::Restart();
    const std::string reference = prove::SettledState();
    for (prove::AfterCut after :
         {prove::AfterCut::kRestartThenRun, prove::AfterCut::kRunThenRestart}) {
      for (size_t k : {size_t(1), calls}) {
        const prove::PointOutcome outcome = prove::RunCutPoint(rich, k, after, reference);
        EXPECT_EQ(outcome.kind, prove::PointOutcome::kOk) << outcome.detail;
      }
    }
    // A machine that ends elsewhere is a difference, named by its lines.
    const prove::PointOutcome off =
        prove::RunCutPoint(rich, 1, prove::AfterCut::kRunThenRestart, reference + "stray\n");
    EXPECT_EQ(off.kind, prove::PointOutcome::kWrong);
    EXPECT_NE(off.detail.find("- stray"), std::string::npos) << off.detail;
  }
}

// ----------------------------------------------------------------- traces

TEST(TraceCompare, BothSidesComeOutAlike) {
  const std::vector<sim::Call> sim = {
      SimCall("GetVersionExA", "ptr", "1"),
      SimCall(
          "RegCreateKeyExA",
          "HKEY_LOCAL_MACHINE, \"Software\\\\Miravelt\\\\\", 0, NULL, 0, 0xF003F, NULL, ptr, ptr",
          "0"),
      SimCall("RegSetValueExA",
              "[HKEY_LOCAL_MACHINE\\Software\\Miravelt], \"Enabled\", 0, 4, "
              "\"\\x01\\x00\\x00\\x00\", 4",
              "0"),
      SimCall("RegCloseKey", "[HKEY_LOCAL_MACHINE\\Software\\Miravelt]", "0"),
      SimCall("GetProcessHeap", "", "0x150000"),
      SimCall("HeapAlloc", "0x150000, 0x0, 1024", "0x6190000"),
      SimCall("OpenProcess", "0x410, 0, 368", "0x1004"),
      SimCall("CloseHandle", "0x1004", "1"),
      SimCall("FindFirstFileA", "\"C:\\\\setup\\\\A.INF\", ptr", "0x1050"),
      SimCall("FindClose", "0x1050", "1"),
      SimCall("CreateFileA",
              "\"C:\\\\WINDOWS\\\\WININIT.INI\", 0xC0000000, 0x0, NULL, 4, 0x80, NULL", "0x1060"),
      SimCall("WriteFile", "0x1060, ptr, 12, ptr, NULL", "1"),
      SimCall("SetFilePointer", "0x1060, -2, NULL, 1", "10"),
      SimCall("CloseHandle", "0x1060", "1"),
      SimCall("RegQueryValueExA", "HKEY_LOCAL_MACHINE, \"x\", NULL, ptr, NULL, 0", "2"),
  };
  const uint64_t hklm = 0xffffffff80000002ull;
  winehost::RelayTrace wine;
  wine.calls = {
      // The C runtime starting up.
      Relay("KERNEL32", "GetStartupInfoA", {Number(0x21fd00)}, 0x10),
      Relay("msvcrt", "malloc", {Number(0x10)}, 0xc813e0),
      Relay("KERNEL32", "GetVersionExA", {Number(0x21fbd8)}, 1),
      Relay("advapi32", "RegCreateKeyExA",
            {Number(hklm), Text(0xc939c0, "Software\\Miravelt\\"), Number(0), Number(0),
             Number(0x200000000), Number(0x2000f003full), Number(0), Number(0x21f8e8),
             Number(0x21f8e4)},
            0),
      Relay("advapi32", "RegSetValueExA",
            {Number(0x5c), Text(0x21f9f0, "Enabled"), Number(0), Number(4), Number(0x21f94c),
             Number(0x200000004ull)},
            0),
      Relay("advapi32", "RegCloseKey", {Number(0x5c)}, 0),
      Relay("KERNEL32", "GetProcessHeap", {}, 0x340000),
      Relay("ntdll", "RtlAllocateHeap", {Number(0x340000), Number(0), Number(0x400)}, 0x37b4e0),
      Relay("KERNEL32", "OpenProcess", {Number(0x410), Number(0), Number(0x38)}, 0x5c),
      Relay("KERNEL32", "CloseHandle", {Number(0x5c)}, 1),
      Relay("KERNEL32", "FindFirstFileA", {Text(0xc93960, "C:\\setup\\A.INF"), Number(0x21f7f0)},
            0x37b4e0),
      Relay("KERNEL32", "FindClose", {Number(0x37b4e0)}, 1),
      // The process handle's value again, now for a file.
      Relay("KERNEL32", "CreateFileA",
            {Text(0xc93990, "C:\\WINDOWS\\WININIT.INI"), Number(0xc0000000), Number(0), Number(0),
             Number(4), Number(0x80), Number(0)},
            0x5c),
      Relay("KERNEL32", "WriteFile",
            {Number(0x5c), Number(0x21f000), Number(12), Number(0x21f0f0), Number(0)}, 1),
      Relay("KERNEL32", "SetFilePointer",
            {Number(0x5c), Number(0xfffffffeull), Number(0), Number(1)}, 10),
      Relay("KERNEL32", "CloseHandle", {Number(0x5c)}, 1),
      Relay("advapi32", "RegQueryValueExA",
            {Number(hklm), Text(1, "x"), Number(0), Number(2), Number(0), Number(3)}, 2),
  };
  const std::vector<NormalCall> fromSim = prove::NormalizeSimTrace(sim);
  const std::vector<NormalCall> fromWine = prove::NormalizeRelayTrace(wine);
  EXPECT_EQ(Texts(fromSim), Texts(fromWine));
  EXPECT_TRUE(prove::CompareTraces(fromSim, fromWine).empty());
  EXPECT_EQ(
      fromSim[2].Text(),
      "RegSetValueExA(HKEY_LOCAL_MACHINE\\SOFTWARE\\MIRAVELT, \"Enabled\", 0, 4, ptr, 4) = 0");
  // The process walk's call for one process is left out; a file handle is
  // named by the file it was opened on.
  for (const NormalCall& c : fromSim) EXPECT_NE(c.function, "OpenProcess");
  EXPECT_EQ(fromSim[fromSim.size() - 2].Text(),
            "CloseHandle(file(\"C:\\WINDOWS\\WININIT.INI\")) = 1");
}

TEST(TraceCompare, DifferencesAreNamedOncePerCall) {
  auto call = [](const std::string& function, const std::string& arg, const std::string& result) {
    NormalCall c;
    c.function = function;
    c.args = {{arg, false}};
    c.result = result;
    return c;
  };
  const std::vector<NormalCall> sim = {call("A", "1", "0"), call("MessageBoxA", "\"t\"", "1"),
                                       call("B", "2", "0"), call("C", "\"C:\\long path\"", "1")};
  std::vector<NormalCall> wine = {call("A", "1", "0"), call("MessageBoxA", "\"t\"", "-1"),
                                  call("X", "9", "0"), call("C", "\"C:\\lo", "1")};
  wine[3].args[0].prefix = true;  // Wine cut the string
  EXPECT_EQ(prove::CompareTraces(sim, wine),
            (std::vector<std::string>{"differs: MessageBoxA(\"t\"): sim 1; wine -1",
                                      "sim-only: B(2) = 0", "wine-only: X(9) = 0"}));
}

TEST(TraceCompare, KeyHandlesAreNamedByThePathTheyWereOpenedFor) {
  // Inner keys opened while the outer one is in use: each handle takes the
  // most recent open that has no handle yet.
  const std::vector<sim::Call> sim = {
      SimCall("RegOpenKeyExA", "HKEY_CURRENT_USER, \"Software\\\\E\\\\\", 0, 0xF003F, ptr", "0"),
      SimCall("RegEnumKeyExA",
              "[HKEY_CURRENT_USER\\Software\\E], 0, ptr, 5, NULL, NULL, NULL, NULL", "0"),
      SimCall("RegOpenKeyExA", "[HKEY_CURRENT_USER\\Software\\E], \"Sub\", 0, 0xF003F, ptr", "0"),
      SimCall("RegCloseKey", "[HKEY_CURRENT_USER\\Software\\E\\Sub]", "0"),
      SimCall("RegCloseKey", "[HKEY_CURRENT_USER\\Software\\E]", "0"),
  };
  EXPECT_EQ(
      Texts(prove::NormalizeSimTrace(sim)),
      (std::vector<std::string>{
          "RegOpenKeyExA(HKEY_CURRENT_USER, \"Software\\E\\\", 0, 983103, ptr) = 0",
          "RegEnumKeyExA(HKEY_CURRENT_USER\\SOFTWARE\\E, 0, ptr, ptr, NULL, NULL, NULL, NULL) = 0",
          "RegOpenKeyExA(HKEY_CURRENT_USER\\SOFTWARE\\E, \"Sub\", 0, 983103, ptr) = 0",
          "RegCloseKey(HKEY_CURRENT_USER\\SOFTWARE\\E\\SUB) = 0",
          "RegCloseKey(HKEY_CURRENT_USER\\SOFTWARE\\E) = 0"}));
}

TEST(TraceCompare, SnapshotWalkAndFailedSearches) {
  const std::vector<sim::Call> sim = {
      SimCall("CreateToolhelp32Snapshot", "0x2, 0", "0x1004"),
      SimCall("Process32First", "0x1004, 304", "1"),
      SimCall("Process32Next", "0x1004, 304", "1"),
      SimCall("Process32Next", "0x1004, 304", "0"),
      SimCall("CloseHandle", "0x1004", "1"),
      SimCall("FindFirstFileA", "\"C:\\\\x\", ptr", "0xFFFFFFFFFFFFFFFF"),
      SimCall("LoadLibraryA", "\"PSAPI.DLL\"", "NULL"),
  };
  winehost::RelayTrace wine;
  wine.calls = {
      Relay("KERNEL32", "GetVersionExA", {Number(1)}, 1),
      Relay("KERNEL32", "CreateToolhelp32Snapshot", {Number(0x100000002ull), Number(0)}, 0x60),
      Relay("KERNEL32", "Process32First", {Number(0x60), Number(0x21f000)}, 1),
      Relay("KERNEL32", "Process32Next", {Number(0x60), Number(0x21f000)}, 0),
      Relay("KERNEL32", "CloseHandle", {Number(0x60)}, 1),
      Relay("KERNEL32", "FindFirstFileA", {Text(0xc0, "C:\\x"), Number(0x21f000)},
            0xffffffffffffffffull),
      Relay("KERNEL32", "LoadLibraryA", {Text(0xc1, "PSAPI.DLL")}, 0),
  };
  std::vector<std::string> fromWine = Texts(prove::NormalizeRelayTrace(wine));
  fromWine.erase(fromWine.begin());  // the version query
  const std::vector<std::string> expected = {
      "CreateToolhelp32Snapshot(2, 0) = snap(2)", "Process32First(snap(2), ptr) = 1",
      "CloseHandle(snap(2)) = 1", "FindFirstFileA(\"C:\\x\", ptr) = INVALID",
      "LoadLibraryA(\"PSAPI.DLL\") = NULL"};
  EXPECT_EQ(Texts(prove::NormalizeSimTrace(sim)), expected);
  EXPECT_EQ(fromWine, expected);
}

// ------------------------------------------------------------------- state

TEST(MachineState, IniItemsCountLinesAndKeepTheRenameOrder) {
  prove::State state;
  prove::AddIniItems("C:\\W\\wininit.ini",
                     "[Rename]\r\nB=b\r\n  A=a  \r\n\r\n[386Enh]\r\ndevice=x\r\ndevice=x\r\n",
                     &state);
  EXPECT_EQ(state["ini C:\\W\\WININIT.INI [RENAME] B=b"], "1");
  EXPECT_EQ(state["ini C:\\W\\WININIT.INI [RENAME] A=a"], "1");
  EXPECT_EQ(state["ini C:\\W\\WININIT.INI [RENAME] order"], "B=b | A=a");
  EXPECT_EQ(state["ini C:\\W\\WININIT.INI [386ENH] device=x"], "2");
}

TEST(MachineState, ChangesCompareAsSets) {
  const prove::State before = {{"file A", "size=1"}, {"security K", "x"}, {"reg K", "key"}};
  const prove::State simAfter = {{"file A", "size=2"}, {"security K", "y"}, {"file B", "size=3"}};
  const prove::State wineAfter = {{"file A", "size=2"}, {"security K", "z"}, {"reg K", "key"}};
  const auto simChanges = prove::Changes(before, simAfter);
  const auto wineChanges = prove::Changes(before, wineAfter);
  EXPECT_EQ(simChanges.at("file A"), "size=1 -> size=2");
  EXPECT_EQ(simChanges.at("security K"), "changed");
  EXPECT_EQ(prove::CompareChanges(simChanges, wineChanges),
            (std::vector<std::string>{"file B: sim absent -> size=3; wine unchanged",
                                      "reg K: sim key -> absent; wine unchanged"}));
}

TEST(MachineState, TheSimulatedMachineIsReadAsItems) {
  sim::Reset(sim::Windows::WinXP);
  sim::PutFile("C:\\Watched\\Sub\\a.txt", "abc", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
  sim::PutIni("C:\\Watched\\x.ini", "[S]\r\nk=v\r\n");
  sim::RegPutDword(HKEY_LOCAL_MACHINE, "Software\\Watched\\Key", "Enabled", 1);
  ASSERT_TRUE(MoveFileExA("C:\\Watched\\Sub\\a.txt", "C:\\Watched\\b.txt", 5));
  prove::Watch watch;
  watch.folders = {"C:\\Watched"};
  watch.iniFiles = {"C:\\Watched\\x.ini"};
  watch.keys = {"HKLM\\Software\\Watched"};
  watch.securityKey = "SYSTEM\\CurrentControlSet\\Enum\\Root";
  prove::State state = prove::SimState(watch);
  EXPECT_EQ(state["file C:\\WATCHED\\SUB\\A.TXT"], "size=3 attr=0x21 data=\"abc\"");
  EXPECT_EQ(state.count("file C:\\WATCHED\\X.INI"), 0u) << "INI files are read as entries";
  EXPECT_EQ(state["ini C:\\WATCHED\\X.INI [S] k=v"], "1");
  EXPECT_EQ(state["reg HKLM\\SOFTWARE\\WATCHED\\KEY"], "key");
  EXPECT_EQ(state["reg HKLM\\SOFTWARE\\WATCHED\\KEY : ENABLED"], "type=4 data=01000000");
  EXPECT_NE(state["pending"].find("a.txt -> !"), std::string::npos) << state["pending"];
  EXPECT_FALSE(state["security SYSTEM\\CURRENTCONTROLSET\\ENUM\\ROOT"].empty());
}

TEST(MachineState, TheCopiedRegistryReplacesTheWatchedKeys) {
  sim::Reset(sim::Windows::Win98);
  sim::RegPutString(HKEY_LOCAL_MACHINE, "Software\\Watched\\Old", "x", "y");
  prove::RegistryCopy copy;
  copy.keys = {"HKLM\\Software\\Watched", "HKLM\\Software\\Watched\\New"};
  copy.values = {{"HKLM\\Software\\Watched\\New", "v", REG_BINARY, std::string("\0\1", 2)}};
  prove::PutSimRegistry(copy, {"HKLM\\Software\\Watched"});
  EXPECT_EQ(sim::RegSubkeys(HKEY_LOCAL_MACHINE, "Software\\Watched"),
            std::vector<std::string>{"New"});
  sim::Value value;
  ASSERT_TRUE(sim::RegGet(HKEY_LOCAL_MACHINE, "Software\\Watched\\New", "v", &value));
  EXPECT_EQ(value.type, DWORD(REG_BINARY));
  EXPECT_EQ(value.data, std::string("\0\1", 2));
}

// --------------------------------------------------------- differential

TEST(Differential, TheScenariosCoverEveryCaseAndQuickKeepsAFew) {
  const std::vector<prove::Scenario> all = prove::Scenarios(false);
  std::vector<std::string> names;
  for (const prove::Scenario& s : all) {
    names.push_back(s.name);
    const std::string installer = "\"C:\\setup\\drvsetup.exe\"";
    EXPECT_EQ(prove::CommandLine(s).compare(0, installer.size(), installer), 0) << s.name;
  }
  for (const char* required :
       {"full-9x", "full-nt", "empty-source-9x", "empty-source-nt", "copy-failures-9x",
        "copy-failures-nt", "guard-9x", "guard-nt", "engine-tree-9x", "engine-tree-nt",
        "final-phase-9x", "final-phase-nt", "wininit-refused-9x", "second-run-9x", "second-run-nt"})
    EXPECT_NE(std::find(names.begin(), names.end(), required), names.end()) << required;
  for (const prove::Scenario& s : all) {
    if (s.name.compare(0, 6, "guard-") == 0) {
      EXPECT_FALSE(s.hostPath.empty());
    }
    if (s.name.compare(0, 11, "second-run-") == 0) {
      EXPECT_EQ(s.runs, 2);
    }
    if (s.name.compare(0, 12, "final-phase-") == 0) {
      EXPECT_FALSE(s.drives.empty());
      EXPECT_NE(prove::CommandLine(s).find("Manual"), std::string::npos);
    }
  }
  const std::vector<prove::Scenario> quick = prove::Scenarios(true);
  EXPECT_LT(quick.size(), all.size());
  EXPECT_GE(quick.size(), 2u);
}

// ---------------------------------------------------------- known list

TEST(KnownDifferences, EntriesAndTheirPatterns) {
  std::vector<prove::KnownDifference> list;
  std::string error;
  ASSERT_TRUE(prove::ParseKnownDifferences(
      "# Title\n\n## First\ntext\n- match: `^a.*b$`\n- match: `c\\d`\n## Second\nno pattern\n",
      &list, &error))
      << error;
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].title, "First");
  EXPECT_EQ(list[0].patterns, (std::vector<std::string>{"^a.*b$", "c\\d"}));
  EXPECT_EQ(prove::FindKnown(list, "a x b"), &list[0]);
  EXPECT_EQ(prove::FindKnown(list, "x c7 y"), &list[0]);
  EXPECT_EQ(prove::FindKnown(list, "a x b c"), nullptr);

  EXPECT_FALSE(prove::ParseKnownDifferences("## E\n- match: `(`\n", &list, &error));
  EXPECT_FALSE(prove::ParseKnownDifferences("- match: `a`\n", &list, &error));
}

TEST(KnownDifferences, TheRepositoryListReads) {
  std::vector<prove::KnownDifference> list;
  std::string error;
  ASSERT_TRUE(prove::LoadKnownDifferences(DRVSETUP_KNOWN_DIFFERENCES, &list, &error)) << error;
  EXPECT_FALSE(list.empty());
  for (const prove::KnownDifference& entry : list) EXPECT_FALSE(entry.title.empty());
}

// ------------------------------------------- the simulator against Wine

// Found by the differential runs: the NT family enumerates subkeys sorted by
// name, as Wine does; the 9x family keeps creation order.
TEST(SimulatorFidelity, SubkeyOrderOfEachFamily) {
  for (sim::Windows version : {sim::Windows::WinXP, sim::Windows::Win98}) {
    sim::Reset(version);
    for (const char* name : {"Zeta", "alpha", "Midi", "Beta"})
      sim::RegPutKey(HKEY_LOCAL_MACHINE, std::string("Software\\Order\\") + name);
    std::vector<std::string> names;
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Order", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    char name[16];
    for (DWORD i = 0;; ++i) {
      DWORD length = sizeof name;
      if (RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        break;
      names.push_back(name);
    }
    RegCloseKey(key);
    if (sim::Is9x(version)) {
      EXPECT_EQ(names, (std::vector<std::string>{"Zeta", "alpha", "Midi", "Beta"}));
    } else {
      EXPECT_EQ(names, (std::vector<std::string>{"alpha", "Beta", "Midi", "Zeta"}));
    }
  }
}

}  // namespace
