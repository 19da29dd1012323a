// The Wine test helper itself: its parsers (no Wine needed), and that what it
// reads from a prefix is what the programs there see.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>

#include "host_files.h"
#include "wine_test.h"

using namespace winetest;

namespace {

// ------------------------------------------------------------ relay parser

// Two processes load an image at the same address (as explorer and the
// program under test can); only the program's own calls are kept.
const char kRelayLog[] =
    "0040:0044:trace:loaddll:build_module Loaded L\"C:\\\\windows\\\\explorer.exe\" at "
    "0000000140000000: builtin\n"
    "0040:0044:Call KERNEL32.CopyFileA(140001000 \"C:\\\\x\",140001010 \"C:\\\\y\",00000000) "
    "ret=140001234\n"
    "0130:0134:trace:loaddll:build_module Loaded L\"C:\\\\setup\\\\DRVSETUP.EXE\" at "
    "0000000140000000: native\n"
    "0130:0134:Call KERNEL32.GetFileAttributesA(00c813a0 \"C:\\\\setup\\\\a.txt\") "
    "ret=140020955\n"
    "0130:0134:Call ntdll.RtlInitAnsiString(0021f960,00c813a0 \"C:\\\\setup\\\\a.txt\") "
    "ret=7b017ecf\n"
    "0130:0134:Ret  ntdll.RtlInitAnsiString() retval=00000013 ret=7b017ecf\n"
    "0130:0134:Ret  KERNEL32.GetFileAttributesA() retval=00000020 ret=140020955\n"
    "0130:0134:Call KERNEL32.CopyFileA(140004015 \"C:\\\\a, (b)\",140004000 "
    "\"x\\\"y\\\\\",00000000) ret=1400027e2\n"
    "0130:0134:Ret  KERNEL32.CopyFileA() retval=00000001 ret=1400027e2\n"
    "0130:0134:Call KERNEL32.GetFileAttributesA(0021fb30 \"abcdef\"...) ret=140002841\n"
    "0130:0134:Ret  KERNEL32.GetFileAttributesA() retval=ffffffff ret=140002841\n"
    "0130:0138:Call user32.MessageBoxA(00000000,140004060 \"Text\\tone\\x01\",140004046 "
    "\"Miravelt Installation\",00000000) ret=14000285a\n"
    "0130:0134:Call KERNEL32.MoveFileExA(140004037 \"a\",140004028 \"b\",00000005) "
    "ret=1400027fc\n"
    "0130:0138:Ret  user32.MessageBoxA() retval=ffffffff ret=14000285a\n"
    "0130:0134:Call PE DLL (proc=000000007B62F500,module=000000007B600000 L\"kernel32.dll\","
    "reason=PROCESS_DETACH,res=0000000000000001)\n"
    "0130:0134:Call KERNEL32.ExitProcess(00000003) ret=140002865\n"
    "0130:0134:Call KERNEL32.Sleep(00000001) ret=150000000\n"
    "garbage line without ids\n";

TEST(RelayLog, KeepsOnlyTheProgramsOwnCallsWithArgumentsAndResults) {
  RelayTrace t = ParseRelayLog(kRelayLog, "drvsetup.exe", 0x40000);
  ASSERT_TRUE(t.found);
  EXPECT_EQ(t.pid, "0130");
  EXPECT_EQ(t.imageBase, 0x140000000u);

  std::vector<std::string> names;
  for (const auto& c : t.calls) names.push_back(c.function);
  // Not explorer's CopyFileA, not ntdll's internal call, not the DLL detach
  // line, not the call from outside the image.
  EXPECT_EQ(names,
            (std::vector<std::string>{"GetFileAttributesA", "CopyFileA", "GetFileAttributesA",
                                      "MessageBoxA", "MoveFileExA", "ExitProcess"}));

  const RelayCall& attrs = t.calls[0];
  EXPECT_EQ(attrs.dll, "KERNEL32");
  EXPECT_EQ(attrs.Text(0), "C:\\setup\\a.txt");
  EXPECT_TRUE(attrs.returned);
  EXPECT_EQ(attrs.retval, 0x20u);

  const RelayCall& copy = t.calls[1];
  ASSERT_EQ(copy.args.size(), 3u);
  EXPECT_EQ(copy.Text(0), "C:\\a, (b)");  // commas and parentheses inside a string
  EXPECT_EQ(copy.Text(1), "x\"y\\");
  EXPECT_EQ(copy.Value(0), 0x140004015u);
  EXPECT_FALSE(copy.args[2].hasText);
  EXPECT_EQ(copy.retval, 1u);

  EXPECT_TRUE(t.calls[2].args[0].truncated);
  EXPECT_EQ(t.calls[2].Text(0), "abcdef");
  EXPECT_EQ(t.calls[2].retval, 0xffffffffu);

  // A Ret on another thread does not close a call of the first.
  EXPECT_EQ(t.calls[3].tid, "0138");
  EXPECT_TRUE(t.calls[3].returned);
  EXPECT_FALSE(t.calls[4].returned);  // MoveFileExA: no Ret in the log
  EXPECT_FALSE(t.calls[5].returned);

  auto boxes = MessageBoxes(t);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, std::string("Text\tone\x01"));
  EXPECT_EQ(boxes[0].caption, "Miravelt Installation");
  EXPECT_EQ(boxes[0].type, 0u);
  EXPECT_EQ(ExitProcessCode(t), 3);
  EXPECT_EQ(t.Count("GetFileAttributesA"), 2u);
}

TEST(RelayLog, ProgramNeverLoadedGivesAnEmptyTrace) {
  RelayTrace t = ParseRelayLog(kRelayLog, "other.exe", 0x40000);
  EXPECT_FALSE(t.found);
  EXPECT_TRUE(t.calls.empty());
  EXPECT_EQ(ExitProcessCode(t), -1);
}

TEST(PeHeader, SizeOfImageIsReadFromTheOptionalHeader) {
  std::string pe(0x200, '\0');
  pe[0] = 'M';
  pe[1] = 'Z';
  pe[0x3c] = static_cast<char>(0x80);
  pe.replace(0x80, 4, std::string("PE\0\0", 4));
  pe.replace(0x80 + 24 + 56, 4, DwordBytes(0x0002f000));
  char path[] = "/tmp/drvsetup-pe-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, pe.data(), pe.size()), static_cast<ssize_t>(pe.size()));
  close(fd);
  EXPECT_EQ(PeImageSize(path), 0x2f000u);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << "MZ not a PE file";
  EXPECT_EQ(PeImageSize(path), 0u);
  unlink(path);
  EXPECT_EQ(PeImageSize("/nonexistent/file.exe"), 0u);
}

TEST(IniText, ValuesAndSectionLinesIgnoreCaseOfNames) {
  const std::string ini =
      "[boot]\r\nshell=Explorer.exe\r\n\r\n[VCache]\r\n MinFileCache = 1024 \r\n"
      ";comment=1\r\nMaxFileCache=2048\r\n\r\n[vcache2]\r\nMinFileCache=1\r\n";
  std::string v;
  ASSERT_TRUE(IniValue(ini, "vcache", "minfilecache", &v));
  EXPECT_EQ(v, "1024");
  ASSERT_TRUE(IniValue(ini, "VCache", "MaxFileCache", &v));
  EXPECT_EQ(v, "2048");
  EXPECT_FALSE(IniValue(ini, "VCache", "comment", &v));  // only ";comment" is there
  EXPECT_FALSE(IniValue(ini, "386Enh", "device", &v));
  EXPECT_EQ(IniSectionLines(ini, "VCACHE"),
            (std::vector<std::string>{" MinFileCache = 1024 ", ";comment=1", "MaxFileCache=2048"}));
  EXPECT_TRUE(IniSectionLines(ini, "missing").empty());
}

// ------------------------------------------------------- Wine processes

// A display would let a message box wait for a click, and the caller's own
// prefix or debug channels would redirect or flood the run.
TEST(WineCommand, TakesTheCallersEnvironmentWithoutDisplayOrWineSettings) {
  setenv("DISPLAY", ":5", 1);
  setenv("WINEPREFIX", "/elsewhere", 1);
  setenv("WINEDEBUG", "+all", 1);
  const HostCommand c = WineCommand({"wine", "C:\\probe.exe", "version"}, "/p", "-all");
  unsetenv("DISPLAY");
  unsetenv("WINEPREFIX");
  unsetenv("WINEDEBUG");
  EXPECT_EQ(c.argv, (std::vector<std::string>{"wine", "C:\\probe.exe", "version"}));
  std::vector<std::string> wine;
  bool path = false;
  for (const std::string& e : c.env) {
    if (e.compare(0, 4, "WINE") == 0 || e.compare(0, 8, "DISPLAY=") == 0) wine.push_back(e);
    path = path || e.compare(0, 5, "PATH=") == 0;
  }
  std::sort(wine.begin(), wine.end());
  EXPECT_EQ(wine, (std::vector<std::string>{"WINEDEBUG=-all",
                                            "WINEDLLOVERRIDES=mscoree,mshtml=", "WINEPREFIX=/p"}));
  EXPECT_TRUE(path);
}

// The 32-bit Wine is entered through the tree's wrapper, with the same
// argument vector and environment after it.
TEST(WineCommand, The32BitWineRunsThroughTheTreesWrapper) {
  const HostCommand c64 = WineCommand({"wineboot", "-r"}, "/p", "-all", WineArch::k64);
  const HostCommand c32 = WineCommand({"wineboot", "-r"}, "/p", "-all", WineArch::k32);
  ASSERT_EQ(c32.argv.size(), 4u);
  EXPECT_EQ(c32.argv[0].substr(c32.argv[0].rfind('/') + 1), "i386-wine");
  EXPECT_EQ(std::vector<std::string>(c32.argv.begin() + 1, c32.argv.end()),
            (std::vector<std::string>{"--", "wineboot", "-r"}));
  EXPECT_EQ(c32.env, c64.env);
}

// A clone removed and made again at the same path (as CI does with its work
// folder) must be seen in the tree as it is now: the bind of the removed
// folder outlives it and used to hide the new one from every 32-bit run.
TEST(WineCommand, The32BitWineSeesAFolderMadeAgainAfterItsBind) {
  if (!WineInstalled(WineArch::k32) || geteuid() != 0)
    GTEST_SKIP() << "needs the i386 tree and root (it binds a top folder into the tree)";
  const std::string top = "/drvsetup-wine-rebind-" + std::to_string(getpid());
  auto catInTree = [&](const std::string& text) {
    RemoveHostTree(top);
    EXPECT_TRUE(MakeHostFolders(top + "/prefix"));
    EXPECT_TRUE(WriteHostFile(top + "/f", text));
    const HostCommand c =
        WineCommand({"/bin/cat", top + "/f"}, top + "/prefix", "-all", WineArch::k32);
    return RunProcess(c, "", TempDir() + top + ".out", TempDir() + top + ".err", 60);
  };
  const RunResult first = catInTree("first");
  const RunResult second = catInTree("second");
  RemoveHostTree(top);
  const std::string inTree = I386Tree() + top;
  RunLogged(PlainCommand({"umount", "-l", inTree}));
  rmdir(inTree.c_str());
  EXPECT_EQ(first.out, "first") << first.err;
  EXPECT_EQ(second.exitCode, 0) << second.err;
  EXPECT_EQ(second.out, "second") << second.err;
}

// Only a run without a result of its own, ended by the emulator or Wine's
// server, is repeated; an exit code is a result, whatever was printed.
TEST(EmulatorCrash, OnlyARunWithoutResultAndWithTheCrashMessageCounts) {
  const char kQemu[] = "qemu: uncaught target signal 11 (Segmentation fault) - core dumped\n";
  const char kClient[] = "wine client error:84: read: Bad address\n";
  const char kServer[] = "wineserver crashed, please enable coredumps\n";
  const struct {
    int exitCode;
    bool timedOut;
    const char* err;
    bool crashed;
  } cases[] = {
      {-1, false, kQemu, true},   {-1, false, kClient, true},
      {-1, true, kServer, true},  {-1, true, kQemu, true},
      {0, false, kQemu, false},   {1, false, kClient, false},
      {3, false, kServer, false}, {-1, false, "", false},
      {-1, true, "", false},      {-1, false, "qemu: fine\n", false},
  };
  for (const auto& c : cases) {
    RunResult r;
    r.exitCode = c.exitCode;
    r.timedOut = c.timedOut;
    r.err = c.err;
    EXPECT_EQ(EmulatorCrashed(r), c.crashed) << c.exitCode << " " << c.timedOut << " " << c.err;
  }
}

// ------------------------------------------------------- test helpers

void FailInsideAHelper(Caller caller = {}) {
  TRACE_CALLER(caller);
  ADD_FAILURE() << "inside the helper";
}

void FailInsideANestedHelper(Caller caller = {}) {
  TRACE_CALLER(caller);
  FailInsideAHelper();
}

// A helper's failure names the test's line, not only its own: the line is
// filled in where the call is written, also through a second helper.
TEST(CallerTrace, AFailureInsideAHelperNamesTheLineOfTheCall) {
  const auto at = [](int line) {
    return std::string(__FILE__) + ":" + std::to_string(line) + ": called from here";
  };
  const std::string direct = at(__LINE__ + 1);
  EXPECT_NONFATAL_FAILURE(FailInsideAHelper(), direct);
  const std::string nested = at(__LINE__ + 1);
  EXPECT_NONFATAL_FAILURE(FailInsideANestedHelper(), nested);
}

// -------------------------------------------------------- under Wine

using WinePrefixTest = WineTest;

TEST_F(WinePrefixTest, RegistryDumpShowsEveryTypeWithItsExactBytes) {
  const std::string key = "HKCU\\Software\\DrvsetupTest";
  const std::string multi("a\0bc\0\0", 6);
  // Preset in the registry files before the session: both roots, every type.
  const std::string preset = "HKLM\\Software\\Drvsetup \"Preset\"\\Deep";
  ASSERT_TRUE(wine->PresetValue(preset, "", kRegSz, SzBytes("C:\\a \"b\"")));
  ASSERT_TRUE(wine->PresetValue(preset, "Count", kRegDword, DwordBytes(0x80000001)));
  ASSERT_TRUE(wine->PresetValue(preset, "Bytes", kRegBinary, std::string("\x3a\0\x7c", 3)));
  ASSERT_TRUE(wine->PresetValue(preset, "List", kRegMultiSz, multi));
  ASSERT_TRUE(wine->PresetValue(preset, "Path", kRegExpandSz, SzBytes("%windir%")));
  ASSERT_TRUE(wine->PresetKey("HKCU\\Software\\DrvsetupEmpty"));
  RegTree p = wine->DumpKey("HKLM\\Software\\Drvsetup \"Preset\"");
  ASSERT_TRUE(p.exists);
  ASSERT_TRUE(p.HasKey("Deep"));
  ASSERT_NE(p.Value("Deep", ""), nullptr);
  EXPECT_EQ(p.Value("Deep", "")->data, SzBytes("C:\\a \"b\""));
  ASSERT_NE(p.Value("Deep", "Count"), nullptr);
  EXPECT_EQ(p.Value("Deep", "Count")->type, kRegDword);
  EXPECT_EQ(text::HexBytes(p.Value("Deep", "Count")->data), "01000080");
  ASSERT_NE(p.Value("Deep", "Bytes"), nullptr);
  EXPECT_EQ(text::HexBytes(p.Value("Deep", "Bytes")->data), "3a007c");
  ASSERT_NE(p.Value("Deep", "List"), nullptr);
  EXPECT_EQ(p.Value("Deep", "List")->type, kRegMultiSz);
  EXPECT_EQ(text::HexBytes(p.Value("Deep", "List")->data), text::HexBytes(multi));
  ASSERT_NE(p.Value("Deep", "Path"), nullptr);
  EXPECT_EQ(p.Value("Deep", "Path")->type, kRegExpandSz);
  EXPECT_EQ(p.Value("Deep", "Path")->data, SzBytes("%windir%"));
  RegTree empty = wine->DumpKey("HKCU\\Software\\DrvsetupEmpty");
  EXPECT_TRUE(empty.exists);
  EXPECT_EQ(empty.ValueCount(), 0u);

  // Set inside the live session.
  ASSERT_TRUE(wine->SetString(key, "", "default"));
  ASSERT_TRUE(wine->SetDword(key + "\\Sub", "Number", 0x01020304));
  ASSERT_TRUE(
      wine->SetValue(key + "\\Sub\\Deeper", "Bin", kRegBinary, std::string("\0\xff\x14", 3)));
  ASSERT_TRUE(wine->SetValue(key + "\\Sub\\Deeper", "Multi", kRegMultiSz, multi));
  ASSERT_TRUE(wine->SetValue(key + "\\Other", "Path", kRegExpandSz, SzBytes("%SystemRoot%\\x")));
  ASSERT_TRUE(wine->SetString(key + "\\Other", "tab\tname%", "v"));

  RegTree t = wine->DumpKey(key);
  ASSERT_TRUE(t.exists);
  EXPECT_TRUE(t.HasKey(""));
  EXPECT_TRUE(t.HasKey("sub\\DEEPER"));
  EXPECT_EQ(t.keys.size(), 4u);
  EXPECT_EQ(t.ValueCount(), 6u);

  const RegValue* v = t.Value("", "");
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->type, kRegSz);
  EXPECT_EQ(v->data, SzBytes("default"));
  v = t.Value("Sub", "number");
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->type, kRegDword);
  EXPECT_EQ(text::HexBytes(v->data), "04030201");
  v = t.Value("Sub\\Deeper", "Bin");
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->type, kRegBinary);
  EXPECT_EQ(text::HexBytes(v->data), "00ff14");
  v = t.Value("Sub\\Deeper", "Multi");
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->type, kRegMultiSz);
  EXPECT_EQ(text::HexBytes(v->data), text::HexBytes(multi));
  v = t.Value("Other", "Path");
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->type, kRegExpandSz);
  EXPECT_EQ(v->data, SzBytes("%SystemRoot%\\x"));
  EXPECT_NE(t.Value("Other", "tab\tname%"), nullptr);  // escaped and back

  ASSERT_TRUE(wine->DeleteKey(key + "\\Sub"));
  t = wine->DumpKey(key);
  EXPECT_FALSE(t.HasKey("Sub"));
  EXPECT_FALSE(t.HasKey("Sub\\Deeper"));
  EXPECT_FALSE(wine->DumpKey(key + "\\Missing").exists);

  // A key's access list, by the object name of the named-security functions.
  KeySecurity sec = wine->KeySecurityOf("MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\Root\\");
  ASSERT_TRUE(sec.ok);
  EXPECT_EQ(sec.control & 0x4, 0x4);  // SE_DACL_PRESENT
  EXPECT_EQ(sec.sddl.substr(0, 2), "D:");
  EXPECT_FALSE(wine->KeySecurityOf("MACHINE\\SOFTWARE\\NoSuchKey").ok);
}

TEST_F(WinePrefixTest, VersionSettingShowsInGetVersionExA) {
  ASSERT_TRUE(wine->SetVersion("win98"));  // in the registry file, before the session
  VersionInfo v = wine->Version();
  EXPECT_EQ(v.platform, 1u);
  EXPECT_EQ(v.major, 4u);
  EXPECT_EQ(v.minor, 10u);

  ASSERT_TRUE(wine->SetVersion("nt40"));  // in the live session, for later programs
  v = wine->Version();
  EXPECT_EQ(v.platform, 2u);
  EXPECT_EQ(v.major, 4u);
  ASSERT_TRUE(wine->SetVersion("winxp"));
  v = wine->Version();
  EXPECT_EQ(v.platform, 2u);
  EXPECT_EQ(v.major, 5u);
  EXPECT_EQ(v.minor, 1u);
}

TEST_F(WinePrefixTest, DrivesAnswerTheirTypesAndShowTheirFiles) {
  std::string cd = wine->AddDrive('E', "cdrom");
  std::string hd = wine->AddDrive('d', "hd");
  ASSERT_FALSE(cd.empty());
  ASSERT_FALSE(hd.empty());
  ASSERT_TRUE(wine->PutFile("E:\\OEM\\ORVOOEM.DLL", "oem"));
  struct stat st;
  EXPECT_EQ(stat((cd + "/OEM/ORVOOEM.DLL").c_str(), &st), 0);
  EXPECT_EQ(wine->FileText("e:\\oem\\orvooem.dll"), "oem");  // any case, as on Windows

  EXPECT_EQ(wine->DriveType("E:\\"), 5u);
  EXPECT_EQ(wine->DriveType("D:\\"), 3u);
  EXPECT_EQ(wine->DriveType("C:\\"), 3u);
  EXPECT_EQ(wine->DriveType("G:\\"), 1u);

  std::vector<FileEntry> files = wine->Files("E:\\");
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0].path, "OEM");
  EXPECT_TRUE(files[0].folder);
  EXPECT_EQ(files[1].path, "OEM\\ORVOOEM.DLL");
  EXPECT_EQ(files[1].size, 3u);
  EXPECT_TRUE(wine->Files("F:\\").empty());
}

TEST_F(WinePrefixTest, RestartPerformsPendingRenamesAndWininitEntries) {
  ASSERT_TRUE(wine->PutFile("C:\\stage\\a.new", "A"));
  ASSERT_TRUE(wine->PutFile("C:\\stage\\b.new", "B"));
  ASSERT_TRUE(wine->PutFile("C:\\stage\\b.dll", "old B"));
  ASSERT_EQ(wine->Probe({"movelater", "C:\\stage\\a.new", "C:\\stage\\a.dll"}).exitCode, 0);
  ASSERT_EQ(wine->Probe({"movelater", "C:\\stage\\b.new", "C:\\stage\\b.dll"}).exitCode, 0);
  ASSERT_TRUE(wine->PutFile("C:\\windows\\Wininit.ini",
                            "[RENAME]\r\nC:\\stage\\c.dll=C:\\stage\\c.new\r\n"));
  ASSERT_TRUE(wine->PutFile("C:\\stage\\c.new", "C"));

  std::vector<PendingRename> pending = wine->PendingRenames();
  ASSERT_EQ(pending.size(), 2u);
  EXPECT_EQ(pending[0].from, "\\??\\C:\\stage\\a.new");
  EXPECT_EQ(pending[0].to, "\\??\\C:\\stage\\a.dll");
  EXPECT_TRUE(pending[0].replace);
  EXPECT_EQ(pending[1].to, "\\??\\C:\\stage\\b.dll");
  EXPECT_TRUE(wine->Exists("C:\\stage\\a.new"));  // nothing moves before the restart

  ASSERT_TRUE(wine->Restart());
  EXPECT_TRUE(wine->PendingRenames().empty());
  EXPECT_EQ(wine->FileText("C:\\stage\\a.dll"), "A");
  EXPECT_EQ(wine->FileText("C:\\stage\\b.dll"), "B");
  EXPECT_EQ(wine->FileText("C:\\stage\\c.dll"), "C");
  EXPECT_FALSE(wine->Exists("C:\\stage\\a.new"));
  EXPECT_FALSE(wine->Exists("C:\\stage\\c.new"));
  EXPECT_FALSE(wine->Exists("C:\\windows\\Wininit.ini"));
}

TEST_F(WinePrefixTest, AttributesHeldFilesAndBackgroundPrograms) {
  ASSERT_TRUE(wine->PutFile("C:\\data\\a.txt", "a"));
  ASSERT_TRUE(wine->PutFile("C:\\data\\sub\\b.txt", "bb"));
  ASSERT_TRUE(wine->SetAttributes("C:\\data\\a.txt", 0x1 | 0x2));  // read-only, hidden
  EXPECT_EQ(wine->Attributes("C:\\data\\a.txt") & 0x3, 0x3u);
  EXPECT_FALSE(wine->Writable("C:\\data\\a.txt"));
  EXPECT_EQ(wine->Attributes("C:\\data\\missing.txt"), 0xFFFFFFFFu);
  std::vector<FileEntry> files = wine->Files("C:\\data");
  auto a = std::find_if(files.begin(), files.end(),
                        [](const FileEntry& e) { return e.path == "a.txt"; });
  ASSERT_NE(a, files.end());
  EXPECT_EQ(a->attributes & 0x3, 0x3u);
  EXPECT_TRUE(std::any_of(files.begin(), files.end(), [](const FileEntry& e) {
    return e.path == "sub\\b.txt" && e.size == 2;
  }));

  // A file held open without sharing refuses a copy onto it until released.
  ASSERT_TRUE(wine->PutFile("C:\\data\\held.dll", "held"));
  ASSERT_TRUE(wine->Hold("C:\\data\\held.dll"));
  EXPECT_EQ(wine->CopyFile("C:\\data\\sub\\b.txt", "C:\\data\\held.dll"), 32u);
  wine->Release();
  EXPECT_EQ(wine->CopyFile("C:\\data\\sub\\b.txt", "C:\\data\\held.dll"), 0u);
  EXPECT_EQ(wine->FileText("C:\\data\\held.dll"), "bb");

  // The stand-in shows under the name it was copied to.
  ASSERT_TRUE(wine->PlaceProgram("standin.exe", "C:\\Program Files\\Orvo\\ORVO.EXE"));
  ASSERT_TRUE(wine->StartBackground("C:\\Program Files\\Orvo\\ORVO.EXE"));
  std::vector<std::string> procs = wine->Processes();
  EXPECT_NE(std::find(procs.begin(), procs.end(), "ORVO.EXE"), procs.end());
}

TEST(WinePrefixLifetime, ImmutableTargetRefusesCopyAndEverythingIsRemovedAfterwards) {
  WINE_TEST_REQUIREMENTS();
  std::string root;
  {
    WinePrefix wine;
    ASSERT_TRUE(wine.Ready()) << wine.Error();
    root = wine.Root();
    ASSERT_TRUE(wine.PutFile("C:\\data\\src.txt", "new"));
    ASSERT_TRUE(wine.PutFile("C:\\data\\ro.txt", "old"));
    ASSERT_TRUE(wine.MakeReadOnly("C:\\data\\ro.txt"));
    // Root writes over a file without write bits...
    EXPECT_EQ(wine.CopyFile("C:\\data\\src.txt", "C:\\data\\ro.txt"), 0u);
    // ...but not over an immutable one.
    ASSERT_TRUE(wine.MakeImmutable("C:\\data\\ro.txt"));
    ASSERT_TRUE(wine.PutFile("C:\\data\\src.txt", "newer"));
    EXPECT_EQ(wine.CopyFile("C:\\data\\src.txt", "C:\\data\\ro.txt"), 5u);
    EXPECT_EQ(wine.FileText("C:\\data\\ro.txt"), "new");
    // The registry files are not edited under a live session, nor for a root
    // other than HKLM and HKCU: refused, and recorded as the host's problems.
    EXPECT_FALSE(wine.PresetKey("HKLM\\Software\\Late"));
    EXPECT_FALSE(wine.PresetValue("HKU\\Software", "x", kRegDword, DwordBytes(1)));
    EXPECT_EQ(wine.TakeProblems().size(), 2u);
    EXPECT_TRUE(wine.Problems().empty());
  }
  struct stat st;
  EXPECT_NE(stat(root.c_str(), &st), 0) << root << " was left behind";
}

TEST_F(WinePrefixTest, RelayTraceShowsMessageBoxesCopiesExitCodeAndExactCommandLines) {
  ASSERT_TRUE(wine->PlaceProgram("probe.exe", "C:\\tools\\probe.exe"));
  ASSERT_TRUE(wine->PutFile("C:\\tools\\a.txt", "a"));

  RelayTrace trace;
  RunResult r = wine->RunTraced("C:\\tools\\probe.exe",
                                {"msgbox", "Unable to copy \"X\", (really) !", "Caption"}, &trace);
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 0);
  ASSERT_TRUE(trace.found);
  auto boxes = MessageBoxes(trace);
  ASSERT_EQ(boxes.size(), 1u);  // without a display it returns at once
  EXPECT_EQ(boxes[0].text, "Unable to copy \"X\", (really) !");
  EXPECT_EQ(boxes[0].caption, "Caption");
  EXPECT_EQ(boxes[0].type, 0u);

  r = wine->RunTraced("C:\\tools\\probe.exe", {"copy", "C:\\tools\\a.txt", "C:\\tools\\b.txt"},
                      &trace);
  auto copies = trace.Named("CopyFileA");
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_EQ(copies[0].Text(0), "C:\\tools\\a.txt");
  EXPECT_EQ(copies[0].Text(1), "C:\\tools\\b.txt");
  EXPECT_EQ(copies[0].Value(2) & 0xffffffffu, 0u);
  EXPECT_TRUE(copies[0].returned);
  EXPECT_EQ(copies[0].retval, 1u);

  r = wine->RunTraced("C:\\tools\\probe.exe", {"exit", "7"}, &trace);
  EXPECT_EQ(r.exitCode, 7);
  EXPECT_EQ(ExitProcessCode(trace), 7);

  // An exact command line, quotes and all, and the full exit code.
  r = wine->RunCommandLine("\"C:\\tools\\probe.exe\"  exit   \"300\"");
  EXPECT_EQ(r.exitCode, 300);
}

}  // namespace
