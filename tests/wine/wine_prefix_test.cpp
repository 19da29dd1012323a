// The Wine test helper itself: its parsers (no Wine needed), and that what it
// reads from a prefix is what the programs there see.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>

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
  EXPECT_EQ("0130", t.pid);
  EXPECT_EQ(0x140000000u, t.imageBase);

  std::vector<std::string> names;
  for (const auto& c : t.calls) names.push_back(c.function);
  // Not explorer's CopyFileA, not ntdll's internal call, not the DLL detach
  // line, not the call from outside the image.
  EXPECT_EQ((std::vector<std::string>{"GetFileAttributesA", "CopyFileA", "GetFileAttributesA",
                                      "MessageBoxA", "MoveFileExA", "ExitProcess"}),
            names);

  const RelayCall& attrs = t.calls[0];
  EXPECT_EQ("KERNEL32", attrs.dll);
  EXPECT_EQ("C:\\setup\\a.txt", attrs.Text(0));
  EXPECT_TRUE(attrs.returned);
  EXPECT_EQ(0x20u, attrs.retval);

  const RelayCall& copy = t.calls[1];
  ASSERT_EQ(3u, copy.args.size());
  EXPECT_EQ("C:\\a, (b)", copy.Text(0));  // commas and parentheses inside a string
  EXPECT_EQ("x\"y\\", copy.Text(1));
  EXPECT_EQ(0x140004015u, copy.Value(0));
  EXPECT_FALSE(copy.args[2].hasText);
  EXPECT_EQ(1u, copy.retval);

  EXPECT_TRUE(t.calls[2].args[0].truncated);
  EXPECT_EQ("abcdef", t.calls[2].Text(0));
  EXPECT_EQ(0xffffffffu, t.calls[2].retval);

  // A Ret on another thread does not close a call of the first.
  EXPECT_EQ("0138", t.calls[3].tid);
  EXPECT_TRUE(t.calls[3].returned);
  EXPECT_FALSE(t.calls[4].returned);  // MoveFileExA: no Ret in the log
  EXPECT_FALSE(t.calls[5].returned);

  auto boxes = MessageBoxes(t);
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ(std::string("Text\tone\x01"), boxes[0].text);
  EXPECT_EQ("Miravelt Installation", boxes[0].caption);
  EXPECT_EQ(0u, boxes[0].type);
  EXPECT_EQ(3, ExitProcessCode(t));
  EXPECT_EQ(2u, t.Count("GetFileAttributesA"));
}

TEST(RelayLog, ProgramNeverLoadedGivesAnEmptyTrace) {
  RelayTrace t = ParseRelayLog(kRelayLog, "other.exe", 0x40000);
  EXPECT_FALSE(t.found);
  EXPECT_TRUE(t.calls.empty());
  EXPECT_EQ(-1, ExitProcessCode(t));
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
  ASSERT_EQ(static_cast<ssize_t>(pe.size()), write(fd, pe.data(), pe.size()));
  close(fd);
  EXPECT_EQ(0x2f000u, PeImageSize(path));
  std::ofstream(path, std::ios::binary | std::ios::trunc) << "MZ not a PE file";
  EXPECT_EQ(0u, PeImageSize(path));
  unlink(path);
  EXPECT_EQ(0u, PeImageSize("/nonexistent/file.exe"));
}

TEST(IniText, ValuesAndSectionLinesIgnoreCaseOfNames) {
  const std::string ini =
      "[boot]\r\nshell=Explorer.exe\r\n\r\n[VCache]\r\n MinFileCache = 1024 \r\n"
      ";comment=1\r\nMaxFileCache=2048\r\n\r\n[vcache2]\r\nMinFileCache=1\r\n";
  std::string v;
  ASSERT_TRUE(IniValue(ini, "vcache", "minfilecache", &v));
  EXPECT_EQ("1024", v);
  ASSERT_TRUE(IniValue(ini, "VCache", "MaxFileCache", &v));
  EXPECT_EQ("2048", v);
  EXPECT_FALSE(IniValue(ini, "VCache", "comment", &v));  // only ";comment" is there
  EXPECT_FALSE(IniValue(ini, "386Enh", "device", &v));
  EXPECT_EQ((std::vector<std::string>{" MinFileCache = 1024 ", ";comment=1", "MaxFileCache=2048"}),
            IniSectionLines(ini, "VCACHE"));
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
  EXPECT_EQ((std::vector<std::string>{"wine", "C:\\probe.exe", "version"}), c.argv);
  std::vector<std::string> wine;
  bool path = false;
  for (const std::string& e : c.env) {
    if (e.compare(0, 4, "WINE") == 0 || e.compare(0, 8, "DISPLAY=") == 0) wine.push_back(e);
    path = path || e.compare(0, 5, "PATH=") == 0;
  }
  std::sort(wine.begin(), wine.end());
  EXPECT_EQ((std::vector<std::string>{"WINEDEBUG=-all",
                                      "WINEDLLOVERRIDES=mscoree,mshtml=", "WINEPREFIX=/p"}),
            wine);
  EXPECT_TRUE(path);
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
  ASSERT_NE(nullptr, p.Value("Deep", ""));
  EXPECT_EQ(SzBytes("C:\\a \"b\""), p.Value("Deep", "")->data);
  ASSERT_NE(nullptr, p.Value("Deep", "Count"));
  EXPECT_EQ(kRegDword, p.Value("Deep", "Count")->type);
  EXPECT_EQ("01000080", text::HexBytes(p.Value("Deep", "Count")->data));
  ASSERT_NE(nullptr, p.Value("Deep", "Bytes"));
  EXPECT_EQ("3a007c", text::HexBytes(p.Value("Deep", "Bytes")->data));
  ASSERT_NE(nullptr, p.Value("Deep", "List"));
  EXPECT_EQ(kRegMultiSz, p.Value("Deep", "List")->type);
  EXPECT_EQ(text::HexBytes(multi), text::HexBytes(p.Value("Deep", "List")->data));
  ASSERT_NE(nullptr, p.Value("Deep", "Path"));
  EXPECT_EQ(kRegExpandSz, p.Value("Deep", "Path")->type);
  EXPECT_EQ(SzBytes("%windir%"), p.Value("Deep", "Path")->data);
  RegTree empty = wine->DumpKey("HKCU\\Software\\DrvsetupEmpty");
  EXPECT_TRUE(empty.exists);
  EXPECT_EQ(0u, empty.ValueCount());

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
  EXPECT_EQ(4u, t.keys.size());
  EXPECT_EQ(6u, t.ValueCount());

  const RegValue* v = t.Value("", "");
  ASSERT_NE(nullptr, v);
  EXPECT_EQ(kRegSz, v->type);
  EXPECT_EQ(SzBytes("default"), v->data);
  v = t.Value("Sub", "number");
  ASSERT_NE(nullptr, v);
  EXPECT_EQ(kRegDword, v->type);
  EXPECT_EQ("04030201", text::HexBytes(v->data));
  v = t.Value("Sub\\Deeper", "Bin");
  ASSERT_NE(nullptr, v);
  EXPECT_EQ(kRegBinary, v->type);
  EXPECT_EQ("00ff14", text::HexBytes(v->data));
  v = t.Value("Sub\\Deeper", "Multi");
  ASSERT_NE(nullptr, v);
  EXPECT_EQ(kRegMultiSz, v->type);
  EXPECT_EQ(text::HexBytes(multi), text::HexBytes(v->data));
  v = t.Value("Other", "Path");
  ASSERT_NE(nullptr, v);
  EXPECT_EQ(kRegExpandSz, v->type);
  EXPECT_EQ(SzBytes("%SystemRoot%\\x"), v->data);
  EXPECT_NE(nullptr, t.Value("Other", "tab\tname%"));  // escaped and back

  ASSERT_TRUE(wine->DeleteKey(key + "\\Sub"));
  t = wine->DumpKey(key);
  EXPECT_FALSE(t.HasKey("Sub"));
  EXPECT_FALSE(t.HasKey("Sub\\Deeper"));
  EXPECT_FALSE(wine->DumpKey(key + "\\Missing").exists);

  // A key's access list, by the object name of the named-security functions.
  KeySecurity sec = wine->KeySecurityOf("MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\Root\\");
  ASSERT_TRUE(sec.ok);
  EXPECT_EQ(0x4, sec.control & 0x4);  // SE_DACL_PRESENT
  EXPECT_EQ("D:", sec.sddl.substr(0, 2));
  EXPECT_FALSE(wine->KeySecurityOf("MACHINE\\SOFTWARE\\NoSuchKey").ok);
}

TEST_F(WinePrefixTest, VersionSettingShowsInGetVersionExA) {
  ASSERT_TRUE(wine->SetVersion("win98"));  // in the registry file, before the session
  VersionInfo v = wine->Version();
  EXPECT_EQ(1u, v.platform);
  EXPECT_EQ(4u, v.major);
  EXPECT_EQ(10u, v.minor);

  ASSERT_TRUE(wine->SetVersion("nt40"));  // in the live session, for later programs
  v = wine->Version();
  EXPECT_EQ(2u, v.platform);
  EXPECT_EQ(4u, v.major);
  ASSERT_TRUE(wine->SetVersion("winxp"));
  v = wine->Version();
  EXPECT_EQ(2u, v.platform);
  EXPECT_EQ(5u, v.major);
  EXPECT_EQ(1u, v.minor);
}

TEST_F(WinePrefixTest, DrivesAnswerTheirTypesAndShowTheirFiles) {
  std::string cd = wine->AddDrive('E', "cdrom");
  std::string hd = wine->AddDrive('d', "hd");
  ASSERT_FALSE(cd.empty());
  ASSERT_FALSE(hd.empty());
  ASSERT_TRUE(wine->PutFile("E:\\OEM\\ORVOOEM.DLL", "oem"));
  struct stat st;
  EXPECT_EQ(0, stat((cd + "/OEM/ORVOOEM.DLL").c_str(), &st));
  EXPECT_EQ("oem", wine->FileText("e:\\oem\\orvooem.dll"));  // any case, as on Windows

  EXPECT_EQ(5u, wine->DriveType("E:\\"));
  EXPECT_EQ(3u, wine->DriveType("D:\\"));
  EXPECT_EQ(3u, wine->DriveType("C:\\"));
  EXPECT_EQ(1u, wine->DriveType("G:\\"));

  std::vector<FileEntry> files = wine->Files("E:\\");
  ASSERT_EQ(2u, files.size());
  EXPECT_EQ("OEM", files[0].path);
  EXPECT_TRUE(files[0].folder);
  EXPECT_EQ("OEM\\ORVOOEM.DLL", files[1].path);
  EXPECT_EQ(3u, files[1].size);
  EXPECT_TRUE(wine->Files("F:\\").empty());
}

TEST_F(WinePrefixTest, RestartPerformsPendingRenamesAndWininitEntries) {
  ASSERT_TRUE(wine->PutFile("C:\\stage\\a.new", "A"));
  ASSERT_TRUE(wine->PutFile("C:\\stage\\b.new", "B"));
  ASSERT_TRUE(wine->PutFile("C:\\stage\\b.dll", "old B"));
  ASSERT_EQ(0, wine->Probe({"movelater", "C:\\stage\\a.new", "C:\\stage\\a.dll"}).exitCode);
  ASSERT_EQ(0, wine->Probe({"movelater", "C:\\stage\\b.new", "C:\\stage\\b.dll"}).exitCode);
  ASSERT_TRUE(wine->PutFile("C:\\windows\\Wininit.ini",
                            "[RENAME]\r\nC:\\stage\\c.dll=C:\\stage\\c.new\r\n"));
  ASSERT_TRUE(wine->PutFile("C:\\stage\\c.new", "C"));

  std::vector<PendingRename> pending = wine->PendingRenames();
  ASSERT_EQ(2u, pending.size());
  EXPECT_EQ("\\??\\C:\\stage\\a.new", pending[0].from);
  EXPECT_EQ("\\??\\C:\\stage\\a.dll", pending[0].to);
  EXPECT_TRUE(pending[0].replace);
  EXPECT_EQ("\\??\\C:\\stage\\b.dll", pending[1].to);
  EXPECT_TRUE(wine->Exists("C:\\stage\\a.new"));  // nothing moves before the restart

  ASSERT_TRUE(wine->Restart());
  EXPECT_TRUE(wine->PendingRenames().empty());
  EXPECT_EQ("A", wine->FileText("C:\\stage\\a.dll"));
  EXPECT_EQ("B", wine->FileText("C:\\stage\\b.dll"));
  EXPECT_EQ("C", wine->FileText("C:\\stage\\c.dll"));
  EXPECT_FALSE(wine->Exists("C:\\stage\\a.new"));
  EXPECT_FALSE(wine->Exists("C:\\stage\\c.new"));
  EXPECT_FALSE(wine->Exists("C:\\windows\\Wininit.ini"));
}

TEST_F(WinePrefixTest, AttributesHeldFilesAndBackgroundPrograms) {
  ASSERT_TRUE(wine->PutFile("C:\\data\\a.txt", "a"));
  ASSERT_TRUE(wine->PutFile("C:\\data\\sub\\b.txt", "bb"));
  ASSERT_TRUE(wine->SetAttributes("C:\\data\\a.txt", 0x1 | 0x2));  // read-only, hidden
  EXPECT_EQ(0x3u, wine->Attributes("C:\\data\\a.txt") & 0x3);
  EXPECT_FALSE(wine->Writable("C:\\data\\a.txt"));
  EXPECT_EQ(0xFFFFFFFFu, wine->Attributes("C:\\data\\missing.txt"));
  std::vector<FileEntry> files = wine->Files("C:\\data");
  auto a = std::find_if(files.begin(), files.end(),
                        [](const FileEntry& e) { return e.path == "a.txt"; });
  ASSERT_NE(files.end(), a);
  EXPECT_EQ(0x3u, a->attributes & 0x3);
  EXPECT_TRUE(std::any_of(files.begin(), files.end(), [](const FileEntry& e) {
    return e.path == "sub\\b.txt" && e.size == 2;
  }));

  // A file held open without sharing refuses a copy onto it until released.
  ASSERT_TRUE(wine->PutFile("C:\\data\\held.dll", "held"));
  ASSERT_TRUE(wine->Hold("C:\\data\\held.dll"));
  EXPECT_EQ(32u, wine->CopyFile("C:\\data\\sub\\b.txt", "C:\\data\\held.dll"));
  wine->Release();
  EXPECT_EQ(0u, wine->CopyFile("C:\\data\\sub\\b.txt", "C:\\data\\held.dll"));
  EXPECT_EQ("bb", wine->FileText("C:\\data\\held.dll"));

  // The stand-in shows under the name it was copied to.
  ASSERT_TRUE(wine->PlaceProgram("standin.exe", "C:\\Program Files\\Orvo\\ORVO.EXE"));
  ASSERT_TRUE(wine->StartBackground("C:\\Program Files\\Orvo\\ORVO.EXE"));
  std::vector<std::string> procs = wine->Processes();
  EXPECT_NE(procs.end(), std::find(procs.begin(), procs.end(), "ORVO.EXE"));
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
    EXPECT_EQ(0u, wine.CopyFile("C:\\data\\src.txt", "C:\\data\\ro.txt"));
    // ...but not over an immutable one.
    ASSERT_TRUE(wine.MakeImmutable("C:\\data\\ro.txt"));
    ASSERT_TRUE(wine.PutFile("C:\\data\\src.txt", "newer"));
    EXPECT_EQ(5u, wine.CopyFile("C:\\data\\src.txt", "C:\\data\\ro.txt"));
    EXPECT_EQ("new", wine.FileText("C:\\data\\ro.txt"));
    // The registry files are not edited under a live session, nor for a root
    // other than HKLM and HKCU: refused, and recorded as the host's problems.
    EXPECT_FALSE(wine.PresetKey("HKLM\\Software\\Late"));
    EXPECT_FALSE(wine.PresetValue("HKU\\Software", "x", kRegDword, DwordBytes(1)));
    EXPECT_EQ(2u, wine.TakeProblems().size());
    EXPECT_TRUE(wine.Problems().empty());
  }
  struct stat st;
  EXPECT_NE(0, stat(root.c_str(), &st)) << root << " was left behind";
}

TEST_F(WinePrefixTest, RelayTraceShowsMessageBoxesCopiesExitCodeAndExactCommandLines) {
  ASSERT_TRUE(wine->PlaceProgram("probe.exe", "C:\\tools\\probe.exe"));
  ASSERT_TRUE(wine->PutFile("C:\\tools\\a.txt", "a"));

  RelayTrace trace;
  RunResult r = wine->RunTraced("C:\\tools\\probe.exe",
                                {"msgbox", "Unable to copy \"X\", (really) !", "Caption"}, &trace);
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(0, r.exitCode);
  ASSERT_TRUE(trace.found);
  auto boxes = MessageBoxes(trace);
  ASSERT_EQ(1u, boxes.size());  // without a display it returns at once
  EXPECT_EQ("Unable to copy \"X\", (really) !", boxes[0].text);
  EXPECT_EQ("Caption", boxes[0].caption);
  EXPECT_EQ(0u, boxes[0].type);

  r = wine->RunTraced("C:\\tools\\probe.exe", {"copy", "C:\\tools\\a.txt", "C:\\tools\\b.txt"},
                      &trace);
  auto copies = trace.Named("CopyFileA");
  ASSERT_EQ(1u, copies.size());
  EXPECT_EQ("C:\\tools\\a.txt", copies[0].Text(0));
  EXPECT_EQ("C:\\tools\\b.txt", copies[0].Text(1));
  EXPECT_EQ(0u, copies[0].Value(2) & 0xffffffffu);
  EXPECT_TRUE(copies[0].returned);
  EXPECT_EQ(1u, copies[0].retval);

  r = wine->RunTraced("C:\\tools\\probe.exe", {"exit", "7"}, &trace);
  EXPECT_EQ(7, r.exitCode);
  EXPECT_EQ(7, ExitProcessCode(trace));

  // An exact command line, quotes and all, and the full exit code.
  r = wine->RunCommandLine("\"C:\\tools\\probe.exe\"  exit   \"300\"");
  EXPECT_EQ(300, r.exitCode);
}

}  // namespace
