// The trace of Win32 calls and the fault plan of the simulated machine.
#include <gtest/gtest.h>

#include <string>

#include "sim.h"

namespace {

class Trace : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset(sim::Windows::WinXP);
    sim::PutFile("C:\\S\\A.DLL", "a");
    sim::PutFile("C:\\S\\B.DLL", "b");
    sim::MakeFolder("C:\\T");
  }
};

TEST_F(Trace, RecordsEachCallWithItsArgumentsResultAndLastError) {
  EXPECT_EQ(sim::CallCount(), 0u);
  sim::PutFile("C:\\S\\C.DLL", "c");  // the control interface is not traced
  EXPECT_EQ(sim::CallCount(), 0u);
  CopyFileA("C:\\S\\A.DLL", "C:\\T\\A.DLL", FALSE);
  CopyFileA("C:\\S\\NONE.DLL", "C:\\T\\\"q\".DLL", TRUE);
  ASSERT_EQ(sim::CallCount(), 2u);
  const sim::Call& ok = sim::Trace()[0];
  EXPECT_EQ(ok.function, "CopyFileA");
  EXPECT_EQ(ok.args, "\"C:\\\\S\\\\A.DLL\", \"C:\\\\T\\\\A.DLL\", 0");
  EXPECT_EQ(ok.result, "1");
  EXPECT_FALSE(ok.injected);
  const sim::Call& failed = sim::Trace()[1];
  EXPECT_EQ(failed.args, "\"C:\\\\S\\\\NONE.DLL\", \"C:\\\\T\\\\\\\"q\\\".DLL\", 1");
  EXPECT_EQ(failed.result, "0");
  EXPECT_EQ(failed.lastError, DWORD(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(sim::TraceText(),
            "CopyFileA(\"C:\\\\S\\\\A.DLL\", \"C:\\\\T\\\\A.DLL\", 0) = 1  err=0\n"
            "CopyFileA(\"C:\\\\S\\\\NONE.DLL\", \"C:\\\\T\\\\\\\"q\\\".DLL\", 1) = 0  err=2\n");
  sim::ClearTrace();
  EXPECT_EQ(sim::CallCount(), 0u);
  EXPECT_EQ(sim::TraceText(), "");
}

TEST_F(Trace, TheNthCallFailsTheWayItFailsOnWindows) {
  sim::FailCall(2);
  EXPECT_TRUE(CopyFileA("C:\\S\\A.DLL", "C:\\T\\A.DLL", FALSE));
  SetLastError(0);  // call 2: never fails
  EXPECT_EQ(GetFileAttributesA("C:\\S\\A.DLL"), DWORD(FILE_ATTRIBUTE_ARCHIVE));

  sim::ClearTrace();
  sim::FailCall(2);
  EXPECT_TRUE(CopyFileA("C:\\S\\A.DLL", "C:\\T\\A.DLL", FALSE));
  EXPECT_FALSE(CopyFileA("C:\\S\\B.DLL", "C:\\T\\B.DLL", FALSE));
  EXPECT_TRUE(CopyFileA("C:\\S\\B.DLL", "C:\\T\\B.DLL", FALSE));
  EXPECT_TRUE(sim::Trace()[1].injected);
  EXPECT_EQ(sim::Trace()[1].lastError, DWORD(ERROR_ACCESS_DENIED));
  EXPECT_NE(sim::TraceText().find("[injected]"), std::string::npos);

  // Each failable operation fails with its own error answer.
  sim::ClearTrace();
  sim::ClearFaults();
  for (size_t i = 1; i <= 6; ++i) sim::FailCall(i);
  WIN32_FIND_DATAA data;
  EXPECT_EQ(FindFirstFileA("C:\\S\\A.DLL", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetDriveTypeA("C:\\"), UINT(DRIVE_UNKNOWN));
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  EXPECT_FALSE(GetVersionExA(&version));
  char buffer[MAX_PATH];
  EXPECT_EQ(GetWindowsDirectoryA(buffer, sizeof buffer), 0u);
  EXPECT_EQ(MessageBoxA(nullptr, "text", "caption", MB_OK), 0);
  EXPECT_FALSE(WritePrivateProfileStringA("S", "k", "v", "X.INI"));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(sim::Boxes().empty());
  EXPECT_TRUE(sim::NothingOutstanding());
}

TEST_F(Trace, RulesByFunctionCountAndArgument) {
  sim::FailFunction("CopyFileA", "", 2);
  EXPECT_FALSE(CopyFileA("C:\\S\\A.DLL", "C:\\T\\A.DLL", FALSE));
  EXPECT_TRUE(DeleteFileA("C:\\S\\B.DLL"));
  EXPECT_FALSE(CopyFileA("C:\\S\\A.DLL", "C:\\T\\A.DLL", FALSE));
  EXPECT_TRUE(CopyFileA("C:\\S\\A.DLL", "C:\\T\\A.DLL", FALSE));

  // A path is named as written, with single backslashes, in any case.
  sim::ClearFaults();
  sim::FailFunction("MoveFileExA", "c:\\t\\a.dll");
  EXPECT_TRUE(MoveFileExA("C:\\S\\X.DL", "C:\\S\\X.DLL", 5));
  EXPECT_FALSE(MoveFileExA("C:\\T\\A.DL", "C:\\T\\A.DLL", 5));
  EXPECT_FALSE(MoveFileExA("C:\\T\\A.DL", "C:\\T\\A.DLL", 5));
  EXPECT_EQ(sim::PendingRenames().size(), 1u);

  // An argument rule without a function matches every operation.
  sim::ClearFaults();
  sim::FailFunction("", "SYSTEM.INI");
  char buffer[64];
  EXPECT_EQ(GetPrivateProfileSectionA("386Enh", buffer, sizeof buffer, "SYSTEM.INI"), 0u);
  EXPECT_FALSE(WritePrivateProfileSectionA("386Enh", "a=1\0", "SYSTEM.INI"));
  EXPECT_TRUE(WritePrivateProfileSectionA("386Enh", "a=1\0", "OTHER.INI"));
  sim::ClearFaults();
  EXPECT_TRUE(WritePrivateProfileSectionA("386Enh", "a=1\0", "SYSTEM.INI"));
}

TEST_F(Trace, ReleaseAndProcessCallsNeverFail) {
  for (const char* name : {"FindClose", "RegCloseKey", "CloseHandle", "FreeLibrary", "HeapFree",
                           "FreeSid", "LocalFree", "ExitProcess", "GetLastError", "SetLastError",
                           "GetCommandLineA", "GetProcessHeap"}) {
    EXPECT_FALSE(sim::IsFailable(name)) << name;
    sim::FailFunction(name);
  }
  EXPECT_TRUE(sim::IsFailable("CopyFileA"));
  EXPECT_TRUE(sim::IsFailable("RegOpenKeyExA"));
  sim::FailCall(3);
  sim::FailCall(4);
  sim::FailCall(5);
  sim::FailCall(6);

  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA("C:\\S\\A.DLL", &data);  // 1
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  SetLastError(7);                                                 // 2
  EXPECT_TRUE(FindClose(h));                                       // 3
  EXPECT_EQ(GetLastError(), 7u);                                   // 4
  EXPECT_STREQ(GetCommandLineA(), "\"C:\\SETUP\\DRVSETUP.EXE\"");  // 5
  EXPECT_TRUE(sim::NothingOutstanding());
  for (const sim::Call& call : sim::Trace()) EXPECT_FALSE(call.injected) << call.function;

  sim::RunResult result = sim::Run([] { ExitProcess(3); });  // 6
  EXPECT_TRUE(result.exited);
  EXPECT_EQ(result.exitCode, 3u);
}

// A program that holds one of everything when the power goes.
bool gPastTheCut = false;
void HoldEverything() {
  HKEY key = nullptr;
  RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM", 0, KEY_READ, &key);  // 1
  HMODULE library = LoadLibraryA("advapi32.dll");                  // 2
  void* block = HeapAlloc(GetProcessHeap(), 0, 64);                // 3, 4
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA("C:\\S\\A.DLL", &data);  // 5
  CopyFileA("C:\\S\\A.DLL", "C:\\T\\A.DLL", FALSE);     // 6
  gPastTheCut = true;
  FindClose(find);
  HeapFree(GetProcessHeap(), 0, block);
  FreeLibrary(library);
  RegCloseKey(key);
  ExitProcess(0);
}

TEST_F(Trace, PowerLossStopsTheProgramBeforeTheCallAndReleasesWhatItHeld) {
  for (size_t k : {1u, 3u, 5u, 6u}) {
    sim::Remove("C:\\T\\A.DLL");
    sim::ClearTrace();
    sim::StopBeforeCall(k);
    gPastTheCut = false;
    const sim::RunResult result = sim::Run(HoldEverything);
    EXPECT_TRUE(result.stopped) << k;
    EXPECT_FALSE(result.exited) << k;
    EXPECT_FALSE(gPastTheCut) << k;
    // Call k never happened, each call before it did.
    EXPECT_EQ(sim::CallCount(), k - 1) << k;
    EXPECT_FALSE(sim::Exists("C:\\T\\A.DLL")) << k;
    EXPECT_TRUE(sim::NothingOutstanding()) << k << ": " << sim::OutstandingText();
  }
  // The stop is used up: the next run goes to its end.
  sim::ClearTrace();
  const sim::RunResult again = sim::Run(HoldEverything);
  EXPECT_TRUE(again.exited);
  EXPECT_FALSE(again.stopped);
  EXPECT_TRUE(sim::Exists("C:\\T\\A.DLL"));
  // Clearing the faults takes a stop back too.
  sim::ClearTrace();
  sim::StopBeforeCall(2);
  sim::ClearFaults();
  EXPECT_TRUE(sim::Run(HoldEverything).exited);
}

}  // namespace
