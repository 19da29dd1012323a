// Processes, libraries and the heap of the simulated machine: the standard
// process sets, the Toolhelp and PSAPI walks, the library search order,
// missing libraries and entry points, and the counting of what a program
// holds.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "sim.h"

namespace {

typedef BOOL(WINAPI* EnumProcessesProc)(DWORD*, DWORD, LPDWORD);

std::vector<std::string> SnapshotNames() {
  std::vector<std::string> names;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  EXPECT_NE(snapshot, INVALID_HANDLE_VALUE);
  PROCESSENTRY32 entry;
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    names.push_back(entry.szExeFile);
  }
  EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_MORE_FILES));
  CloseHandle(snapshot);
  return names;
}

sim::ProcessSpec Spec(DWORD pid, const std::string& path, bool openable = true) {
  sim::ProcessSpec process;
  process.pid = pid;
  process.imagePath = path;
  process.openable = openable;
  return process;
}

class Processes : public ::testing::Test {
 protected:
  void SetUp() override { sim::Reset(sim::Windows::WinXP); }
  void TearDown() override { EXPECT_TRUE(sim::NothingOutstanding()) << sim::OutstandingText(); }
};

TEST_F(Processes, SnapshotsNameProcessesAsEachFamilyDoes) {
  std::vector<std::string> names = SnapshotNames();
  ASSERT_GE(names.size(), 4u);
  EXPECT_EQ(names[0], "[System Process]");
  EXPECT_EQ(names[1], "System");
  EXPECT_EQ(names.back(), "DRVSETUP.EXE");
  EXPECT_EQ(sim::Processes()[1].pid, 4u);

  sim::Reset(sim::Windows::Win2k);
  EXPECT_EQ(sim::Processes()[1].pid, 8u);
  sim::Reset(sim::Windows::Win98);
  names = SnapshotNames();
  EXPECT_EQ(names.front(), "C:\\WINDOWS\\SYSTEM\\KERNEL32.DLL");
  EXPECT_EQ(names.back(), "C:\\SETUP\\DRVSETUP.EXE");
  sim::ProcessSpec named = Spec(0x1234, "C:\\APP\\ORVO.EXE");
  named.snapshotName = "ORVO";
  sim::AddProcess(named);
  EXPECT_EQ(SnapshotNames().back(), "ORVO");

  // The record's size must be the structure's; the walk reads a copy made
  // when the snapshot was taken.
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  EXPECT_EQ(sim::Outstanding()["snapshot"], 1);
  sim::AddProcess(Spec(0x5678, "C:\\LATE.EXE"));
  PROCESSENTRY32 entry;
  entry.dwSize = sizeof entry - 8;
  EXPECT_FALSE(Process32First(snapshot, &entry));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_BAD_LENGTH));
  entry.dwSize = sizeof entry;
  size_t count = 0;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    ++count;
  }
  EXPECT_EQ(count, sim::Processes().size() - 1);
  EXPECT_FALSE(Process32Next(snapshot, &entry));
  EXPECT_TRUE(CloseHandle(snapshot));
  EXPECT_FALSE(CloseHandle(snapshot));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

TEST_F(Processes, IdentifierListIsCutToTheBufferAndCountsWhatItWrote) {
  sim::ClearProcesses();
  for (DWORD pid = 1000; pid < 1000 + 4 * 300; pid += 4) sim::AddProcess(Spec(pid, "C:\\W.EXE"));
  const size_t total = sim::Processes().size();
  ASSERT_GT(total, 256u);
  std::vector<DWORD> ids(1024);
  DWORD written = 0;
  ASSERT_TRUE(EnumProcesses(ids.data(), 1024, &written));
  EXPECT_EQ(written, 1024u);  // full: the caller cannot tell whether more exist
  ASSERT_TRUE(EnumProcesses(ids.data(), 4 * 1024, &written));
  EXPECT_EQ(written, 4 * total);
  EXPECT_EQ(ids[total - 1], 1000u + 4 * 299);
  ASSERT_TRUE(EnumProcesses(ids.data(), 10, &written));
  EXPECT_EQ(written, 8u);
  EXPECT_FALSE(EnumProcesses(ids.data(), 16, nullptr));
}

TEST_F(Processes, OpeningAndReadingProcesses) {
  sim::AddProcess(Spec(7000, "C:\\Program Files\\Orvo\\ORVO.EXE"));
  sim::ProcessSpec hidden = Spec(7004, "C:\\HIDDEN.EXE");
  hidden.modulesReadable = false;
  sim::AddProcess(hidden);
  const DWORD access = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;

  HANDLE process = OpenProcess(access, FALSE, 7000);
  ASSERT_NE(process, nullptr);
  EXPECT_EQ(sim::Outstanding()["process"], 1);
  HMODULE modules[4] = {};
  DWORD needed = 0;
  ASSERT_TRUE(EnumProcessModules(process, modules, sizeof(HMODULE), &needed));
  EXPECT_GT(needed, sizeof(HMODULE));
  EXPECT_EQ(modules[1], nullptr);  // only as many as fit
  char name[MAX_PATH];
  EXPECT_EQ(GetModuleFileNameExA(process, modules[0], name, sizeof name), 30u);
  EXPECT_STREQ(name, "C:\\Program Files\\Orvo\\ORVO.EXE");
  // A name that does not fit is cut, with its zero, to the buffer.
  std::memset(name, 'x', sizeof name);
  EXPECT_EQ(GetModuleFileNameExA(process, modules[0], name, 5), 5u);
  EXPECT_EQ(std::string(name, 6), std::string("C:\\P\0x", 6));
  EXPECT_EQ(GetModuleFileNameExA(process, modules[0], name, 0), 0u);
  EXPECT_TRUE(CloseHandle(process));

  // Without read access, or a process whose memory cannot be read.
  process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, 7000);
  EXPECT_FALSE(EnumProcessModules(process, modules, sizeof modules, &needed));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
  CloseHandle(process);
  process = OpenProcess(access, FALSE, 7004);
  ASSERT_NE(process, nullptr);
  EXPECT_FALSE(EnumProcessModules(process, modules, sizeof modules, &needed));
  EXPECT_EQ(GetModuleFileNameExA(process, nullptr, name, sizeof name), 0u);
  CloseHandle(process);

  // The idle process, system processes, processes that are not there.
  EXPECT_EQ(OpenProcess(access, FALSE, 0), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(OpenProcess(access, FALSE, 4), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
  EXPECT_EQ(OpenProcess(access, FALSE, 7008), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
  sim::RemoveProcess(7000);
  EXPECT_EQ(OpenProcess(access, FALSE, 7000), nullptr);
}

TEST_F(Processes, AHundredThousandProcessesAreWalkedOnce) {
  sim::ClearProcesses();
  const DWORD count = 100000;
  for (DWORD i = 0; i < count; ++i) sim::AddProcess(Spec(100000 + 4 * i, "C:\\P.EXE", i % 2));
  std::vector<DWORD> ids(count + 8);
  DWORD written = 0;
  ASSERT_TRUE(EnumProcesses(ids.data(), static_cast<DWORD>(ids.size() * 4), &written));
  ASSERT_EQ(written / 4, count + 1);
  size_t opened = 0;
  for (DWORD i = 0; i < written / 4; ++i) {
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ids[i]);
    if (process) {
      ++opened;
      CloseHandle(process);
    }
  }
  EXPECT_EQ(opened, count / 2 + 1);  // the installer too
  sim::ClearTrace();
}

TEST_F(Processes, LibrariesAndTheirEntryPoints) {
  HMODULE psapi = LoadLibraryA("PSAPI.DLL");
  ASSERT_NE(psapi, nullptr);
  FARPROC found = GetProcAddress(psapi, "EnumProcesses");
  ASSERT_NE(found, nullptr);
  // The entry point is the machine's own function.
  EnumProcessesProc enumProcesses =
      reinterpret_cast<EnumProcessesProc>(reinterpret_cast<void (*)()>(found));
  DWORD ids[4];
  DWORD written = 0;
  EXPECT_TRUE(enumProcesses(ids, sizeof ids, &written));
  EXPECT_EQ(GetProcAddress(psapi, "enumprocesses"), nullptr);  // names are exact
  EXPECT_EQ(GetLastError(), DWORD(ERROR_PROC_NOT_FOUND));
  EXPECT_EQ(GetProcAddress(psapi, "RegOpenKeyExA"), nullptr);  // another library's

  sim::SetEntryPointMissing("psapi.dll", "EnumProcesses", true);
  EXPECT_EQ(GetProcAddress(psapi, "EnumProcesses"), nullptr);
  EXPECT_TRUE(FreeLibrary(psapi));
  EXPECT_FALSE(FreeLibrary(psapi));

  sim::SetLibraryMissing("PSAPI.DLL", true);
  EXPECT_EQ(LoadLibraryA("PSAPI.DLL"), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(LoadLibraryA((sim::SystemFolder() + "\\psapi.dll").c_str()), nullptr);

  // Per version: Toolhelp from 2000 on and on the 9x family, PSAPI from NT 4.
  const struct {
    sim::Windows version;
    bool toolhelp;
    bool psapi;
  } cases[] = {{sim::Windows::Win95, true, false},
               {sim::Windows::NT351, false, false},
               {sim::Windows::NT40, false, true},
               {sim::Windows::Win2k, true, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(sim::WindowsName(c.version));
    sim::Reset(c.version);
    HMODULE kernel = LoadLibraryA("Kernel32.DLL");
    ASSERT_NE(kernel, nullptr);
    EXPECT_EQ(GetProcAddress(kernel, "CreateToolhelp32Snapshot") != nullptr, c.toolhelp);
    EXPECT_EQ(GetProcAddress(kernel, "Process32Next") != nullptr, c.toolhelp);
    FreeLibrary(kernel);
    psapi = LoadLibraryA("PSAPI.DLL");
    EXPECT_EQ(psapi != nullptr, c.psapi);
    if (psapi) FreeLibrary(psapi);
  }
}

TEST_F(Processes, BareNamesFollowTheSearchOrder) {
  const std::string system = sim::SystemFolder();
  // A copy beside the installer comes before the system's, and offers none
  // of its entry points.
  sim::PutFile("C:\\SETUP\\PSAPI.DLL", "MZ not the system's");
  HMODULE first = LoadLibraryA("psapi");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetProcAddress(first, "EnumProcesses"), nullptr);
  // Loaded again by name: the same module, counted twice.
  HMODULE second = LoadLibraryA("PSAPI.DLL");
  EXPECT_EQ(second, first);
  EXPECT_EQ(sim::Outstanding()["library"], 2);
  FreeLibrary(second);
  FreeLibrary(first);
  // By its full path the system's own.
  HMODULE bySystemPath = LoadLibraryA((system + "\\PSAPI.DLL").c_str());
  ASSERT_NE(bySystemPath, nullptr);
  EXPECT_NE(GetProcAddress(bySystemPath, "EnumProcesses"), nullptr);
  FreeLibrary(bySystemPath);
  // Libraries every process holds are never taken from the installer's folder.
  sim::PutFile("C:\\SETUP\\KERNEL32.DLL", "MZ");
  HMODULE kernel = LoadLibraryA("KERNEL32.DLL");
  EXPECT_NE(GetProcAddress(kernel, "CreateToolhelp32Snapshot"), nullptr);
  FreeLibrary(kernel);
  // The windows folder comes last; nowhere at all fails.
  sim::PutFile(sim::WindowsFolder() + "\\EXTRA.DLL", "MZ");
  HMODULE extra = LoadLibraryA("extra.dll");
  EXPECT_NE(extra, nullptr);
  FreeLibrary(extra);
  EXPECT_EQ(LoadLibraryA("NOWHERE.DLL"), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));

  EXPECT_EQ(sim::LoadedLibraryFiles(),
            (std::vector<std::string>{"C:\\SETUP\\PSAPI.DLL", "C:\\SETUP\\PSAPI.DLL",
                                      system + "\\PSAPI.DLL", system + "\\KERNEL32.DLL",
                                      sim::WindowsFolder() + "\\EXTRA.DLL"}));
}

TEST_F(Processes, HeapBlocksAreRealAndCounted) {
  HANDLE heap = GetProcessHeap();
  EXPECT_EQ(heap, GetProcessHeap());
  BYTE* zeroed = static_cast<BYTE*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, 64));
  ASSERT_NE(zeroed, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(zeroed), 64), std::string(64, '\0'));
  void* plain = HeapAlloc(heap, 0, 16);
  EXPECT_EQ(sim::Outstanding()["heap"], 2);
  EXPECT_TRUE(HeapFree(heap, 0, zeroed));
  EXPECT_FALSE(HeapFree(heap, 0, zeroed));  // twice
  EXPECT_TRUE(HeapFree(heap, 0, plain));
  EXPECT_TRUE(HeapFree(heap, 0, nullptr));

  sim::FailFunction("HeapAlloc");
  EXPECT_EQ(HeapAlloc(heap, 0, 16), nullptr);
  EXPECT_TRUE(sim::Trace().back().injected);
  EXPECT_FALSE(sim::IsFailable("HeapFree"));

  // What a program leaves behind is reported, and dropped with the machine.
  HKEY key = nullptr;
  RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &key);
  sim::ClearFaults();
  HeapAlloc(heap, 0, 8);
  EXPECT_EQ(sim::OutstandingText().find("heap 1, key 1"), 0u) << sim::OutstandingText();
  EXPECT_NE(sim::OutstandingText().find("HKEY_LOCAL_MACHINE\\SOFTWARE"), std::string::npos);
  sim::Reset();
}

}  // namespace
