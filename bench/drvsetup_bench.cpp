// What a run costs on the simulated machine, and how the cost of the
// installer's three walks grows: removing a registry tree, the guard's walk
// over the running processes and the disabling of SYSTEM.INI device entries;
// and what a whole preview costs on a large machine (many values in one key,
// many keys, many processes).
//
// Every benchmark reports the time and the platform calls per unit (per run,
// key, process or kilobyte); building the machine is not timed.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdio>
#include <deque>
#include <ostream>
#include <streambuf>
#include <string>

#include "drvsetup.h"
#include "guard.h"
#include "housekeeping.h"
#include "installer_process.h"
#include "machine_file.h"
#include "platform_family.h"
#include "preview.h"
#include "report.h"
#include "sim.h"
#include "system_ini.h"

namespace {

sim::Windows FamilyVersion(bool nineX) { return nineX ? sim::Windows::Win98 : sim::Windows::WinXP; }

void SetFamily(bool nineX) { PlatformFamily = nineX ? 1 : 2; }

// Per-unit figures: time per unit (seconds, shown with an SI prefix) and
// platform calls per unit, and the unit count itself for scripts.
void ReportPerUnit(benchmark::State& state, double units, size_t calls) {
  double total = units * static_cast<double>(state.iterations());
  state.counters["units"] = units;
  state.counters["time/unit"] =
      benchmark::Counter(total, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["calls/unit"] = static_cast<double>(calls) / total;
  state.SetItemsProcessed(static_cast<int64_t>(total));
}

// ------------------------------------------------------------ the full run

void FullRun(benchmark::State& state, bool nineX) {
  preview::Scenario scenario = preview::SampleScenario(FamilyVersion(nineX));
  size_t calls = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::string error;
    if (!preview::BuildMachine(scenario, &error)) {
      state.SkipWithError(error.c_str());
      break;
    }
    sim::ClearTrace();
    state.ResumeTiming();
    sim::RunResult result = sim::RunInstallerProcess();
    benchmark::DoNotOptimize(result);
    calls += sim::CallCount();
    if (!result.exited || result.exitCode != 0) {
      state.SkipWithError("the run did not end with exit code 0");
      break;
    }
  }
  ReportPerUnit(state, 1, calls);
}

// ------------------------------------------------------- DeleteKeyTree

const char kEngineKey[] = "Software\\Miravelt\\Engine";

// A tree of the given number of keys (the engine settings key included),
// `fanOut` subkeys to a key, filled level by level, one value in every key.
void BuildKeyTree(long keys, long fanOut) {
  std::deque<std::string> open = {kEngineKey};
  sim::RegPutKey(HKEY_CURRENT_USER, kEngineKey);
  long made = 1;
  while (made < keys) {
    std::string parent = open.front();
    open.pop_front();
    for (long child = 0; child < fanOut && made < keys; ++child, ++made) {
      std::string key = parent + "\\Preset" + std::to_string(child);
      sim::RegPutDword(HKEY_CURRENT_USER, key, "Level", static_cast<DWORD>(made));
      open.push_back(key);
    }
  }
}

// Ten subkeys to a key, or (wide) every key a subkey of the engine key.
void DeleteKeyTreeBench(benchmark::State& state, bool nineX, bool wide) {
  const long keys = state.range(0);
  size_t calls = 0;
  for (auto _ : state) {
    state.PauseTiming();
    sim::Reset(FamilyVersion(nineX));
    SetFamily(nineX);
    BuildKeyTree(keys, wide ? keys : 10);
    sim::ClearTrace();
    state.ResumeTiming();
    bool removed = DeleteKeyTree(HKEY_CURRENT_USER, std::string(kEngineKey) + "\\");
    benchmark::DoNotOptimize(removed);
    calls += sim::CallCount();
    if (!removed || sim::RegKeyExists(HKEY_CURRENT_USER, kEngineKey)) {
      state.SkipWithError("the tree was not removed");
      break;
    }
  }
  ReportPerUnit(state, static_cast<double>(keys), calls);
}

// ------------------------------------------------------------ the guard

void GuardBench(benchmark::State& state, bool nineX) {
  const long processes = state.range(0);
  sim::Reset(FamilyVersion(nineX));
  SetFamily(nineX);
  sim::ClearProcesses();
  // The installer itself stays; the others are ordinary programs.
  for (long i = 1; i < processes; ++i) {
    sim::ProcessSpec p;
    p.pid = static_cast<DWORD>(1000 + 4 * i);
    p.imagePath = "C:\\Program Files\\Tools\\TOOL" + std::to_string(i) + ".EXE";
    sim::AddProcess(p);
  }
  size_t calls = 0;
  for (auto _ : state) {
    state.PauseTiming();
    sim::ClearTrace();
    HostApplicationFound = false;
    state.ResumeTiming();
    bool walked = EnumerateProcesses(IsHostApplicationProcess, 0);
    benchmark::DoNotOptimize(walked);
    calls += sim::CallCount();
    if (!walked || HostApplicationFound) {
      state.SkipWithError("the walk did not run over every process");
      break;
    }
  }
  ReportPerUnit(state, static_cast<double>(processes), calls);
}

// ------------------------------------------------------------ SYSTEM.INI

// SYSTEM.INI whose [386Enh] section holds about the given number of
// kilobytes of device lines, every 64th of them the audio kernel's.
std::string SystemIni(long kilobytes) {
  std::string text = "[boot]\r\nshell=Explorer.exe\r\n[386Enh]\r\n";
  const size_t end = text.size() + static_cast<size_t>(kilobytes) * 1024;
  for (unsigned line = 0; text.size() < end; ++line) {
    char entry[48];
    if (line % 64 == 63) {
      std::snprintf(entry, sizeof entry, "device=zoltavex.vxd\r\n");
    } else {
      std::snprintf(entry, sizeof entry, "device=vdev%06u.vxd\r\n", line);
    }
    text += entry;
  }
  return text + "[Drivers]\r\nwave=mmsystem.dll\r\n";
}

void SystemIniBench(benchmark::State& state) {
  const long kilobytes = state.range(0);
  const std::string ini = SystemIni(kilobytes);
  sim::Reset(sim::Windows::Win98);
  SetFamily(true);
  const std::string path = sim::WindowsFolder() + "\\SYSTEM.INI";
  size_t calls = 0;
  for (auto _ : state) {
    state.PauseTiming();
    sim::PutIni(path, ini);
    sim::ClearTrace();
    state.ResumeTiming();
    DisableSystemIniDevice("zoltavex.vxd");
    calls += sim::CallCount();
  }
  std::string text = sim::IniText(path);
  if (text.find("\ndevice=zoltavex.vxd") != std::string::npos) {
    state.SkipWithError("a device line was left enabled");
  }
  ReportPerUnit(state, static_cast<double>(kilobytes), calls);
}

// The in-memory edit alone, without the platform.
void DeviceEntriesBench(benchmark::State& state) {
  const long kilobytes = state.range(0);
  std::string section = SystemIni(kilobytes);
  section = section.substr(section.find("[386Enh]\r\n") + 10);
  for (char& c : section) {
    if (c == '\r') c = '\0';
  }
  std::string buffer;
  for (size_t i = 0; i < section.size(); ++i) {
    if (section[i] == '\n') continue;
    buffer += section[i];
  }
  buffer += std::string(2, '\0');
  std::string work;
  for (auto _ : state) {
    state.PauseTiming();
    work = buffer;
    state.ResumeTiming();
    DisableDeviceEntries(&work[0], work.size(), "zoltavex.vxd");
    benchmark::DoNotOptimize(work.data());
  }
  ReportPerUnit(state, static_cast<double>(kilobytes), 0);
}

// ------------------------------------------------------------ the preview

// A stream that keeps nothing: the report is made, not stored.
class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// A machine description with `keys` keys below HKLM\SOFTWARE\Bench (all in
// that one key, or grouped a thousand to a key),
// `values` values in the key HKLM\SOFTWARE\Bench\Values and `processes`
// programs running. Grouped keys come a group at a time, as an export of a
// real machine lists a key's subkeys together.
preview::MachineDescription LargeMachine(long keys, bool grouped, long values, long processes) {
  preview::MachineDescription d;
  const long perKey = 1000;
  for (long i = 0; i < keys; ++i) {
    preview::MachineDescription::RegistryEntry e;
    e.root = "HKLM";
    // Names in an order that is not the sorted one.
    const long mixed = (i * 7919) % keys;
    e.key = !grouped ? "SOFTWARE\\Bench\\Key" + std::to_string(mixed)
                     : "SOFTWARE\\Bench\\Group" + std::to_string(i / perKey) + "\\Key" +
                           std::to_string(mixed % perKey);
    d.registry.push_back(e);
  }
  for (long i = 0; i < values; ++i) {
    preview::MachineDescription::RegistryEntry e;
    e.root = "HKLM";
    e.key = "SOFTWARE\\Bench\\Values";
    e.hasValue = true;
    e.name = "Value" + std::to_string((i * 7919) % values);
    e.type = REG_DWORD;
    e.data = sim::DwordOf(static_cast<DWORD>(i));
    d.registry.push_back(e);
  }
  for (long i = 0; i < processes; ++i) {
    d.processes.push_back("C:\\Program Files\\Tools\\TOOL" + std::to_string(i) + ".EXE");
  }
  return d;
}

// One whole preview of the sample packages on the machine described: the
// machine built, the run, the capture and the text report. False, with the
// benchmark stopped, when it cannot be built or the run does not end well.
bool PreviewOnce(benchmark::State& state, const preview::MachineDescription& machine,
                 std::ostream& out, size_t* calls) {
  preview::Scenario scenario = preview::SampleScenario(sim::Windows::WinXP);
  scenario.machine = &machine;
  std::string error;
  if (!preview::BuildMachine(scenario, &error)) {
    state.SkipWithError(error.c_str());
    return false;
  }
  preview::RunReport report;
  report.sourceFolder = "C:\\SETUP\\";
  preview::CaptureRun(&report);
  preview::WriteReport(report, out);
  *calls += report.callCount;
  if (!report.result.exited || report.result.exitCode != 0) {
    state.SkipWithError("the run did not end with exit code 0");
    return false;
  }
  return true;
}

// Whole previews of a large machine described in memory.
void PreviewBench(benchmark::State& state, long keys, bool grouped, long values, long processes,
                  double units) {
  const preview::MachineDescription machine = LargeMachine(keys, grouped, values, processes);
  NullBuffer nothing;
  std::ostream out(&nothing);
  size_t calls = 0;
  for (auto _ : state) {
    if (!PreviewOnce(state, machine, out, &calls)) break;
  }
  ReportPerUnit(state, units, calls);
}

// The same through a machine file, as a setup engineer gives one: the text
// of `keys` keys a thousand to a key and keys/10 values in one key, parsed
// in each iteration before the preview. A file may hold 16 MiB: 350k keys
// of this length, written without spaces, and their values.
void MachineFileBench(benchmark::State& state, long keys) {
  std::string text = "{\"registry\":[";
  for (long i = 0; i < keys; ++i) {
    text += (i ? "," : "") + std::string("{\"key\":\"HKLM\\\\SOFTWARE\\\\B\\\\G") +
            std::to_string(i / 1000) + "\\\\K" + std::to_string((i * 919) % 1000) + "\"}";
  }
  for (long i = 0; i < keys / 10; ++i) {
    text += ",{\"key\":\"HKLM\\\\SOFTWARE\\\\B\\\\V\",\"name\":\"V" + std::to_string(i) +
            "\",\"type\":\"REG_DWORD\",\"data\":" + std::to_string(i) + "}";
  }
  text += "]}\n";
  if (text.size() > preview::kMaxMachineFileBytes) {
    state.SkipWithError("the machine file is over the bound");
    return;
  }
  NullBuffer nothing;
  std::ostream out(&nothing);
  size_t calls = 0;
  for (auto _ : state) {
    preview::MachineDescription machine;
    std::string error;
    if (!preview::ParseMachineDescription(text, &machine, &error)) {
      state.SkipWithError(error.c_str());
      break;
    }
    if (!PreviewOnce(state, machine, out, &calls)) break;
  }
  ReportPerUnit(state, static_cast<double>(keys), calls);
}

const int kPreviewRepetitions = 3;

void Register() {
  for (bool nineX : {true, false}) {
    const std::string family = nineX ? "9x" : "nt";
    benchmark::RegisterBenchmark(("full_run/" + family).c_str(), [nineX](benchmark::State& s) {
      FullRun(s, nineX);
    })->Unit(benchmark::kMicrosecond);
    for (bool wide : {false, true}) {
      benchmark::RegisterBenchmark(
          ("delete_key_tree/" + family + (wide ? "/wide" : "")).c_str(),
          [nineX, wide](benchmark::State& s) { DeleteKeyTreeBench(s, nineX, wide); })
          ->Arg(1000)
          ->Arg(10000)
          ->Arg(100000)
          ->MinWarmUpTime(0.5)  // the heap and the trace grown before timing
          ->MinTime(2.0)        // several removals of the largest tree, not one
          ->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark(("guard/" + family).c_str(),
                                 [nineX](benchmark::State& s) { GuardBench(s, nineX); })
        ->Arg(100)
        ->Arg(1000)
        ->Arg(10000)
        ->Arg(100000)
        ->MinWarmUpTime(0.5)
        ->MinTime(2.0)
        ->Unit(benchmark::kMillisecond);
  }
  // Each a whole preview, built from nothing; the largest take seconds, one
  // iteration each, so each is repeated and figures.py takes the quickest:
  // the run the rest of a shared machine disturbed least.
  for (long n : {10000L, 100000L, 1000000L}) {
    benchmark::RegisterBenchmark(("preview_values/" + std::to_string(n)).c_str(),
                                 [n](benchmark::State& s) { PreviewBench(s, 0, false, n, 0, n); })
        ->Repetitions(kPreviewRepetitions)
        ->Unit(benchmark::kMillisecond);
  }
  for (long n : {10000L, 100000L, 1000000L}) {
    benchmark::RegisterBenchmark(("preview_keys/" + std::to_string(n)).c_str(),
                                 [n](benchmark::State& s) { PreviewBench(s, n, false, 0, 0, n); })
        ->Repetitions(kPreviewRepetitions)
        ->Unit(benchmark::kMillisecond);
  }
  for (long n : {10000L, 100000L}) {
    benchmark::RegisterBenchmark(("preview_processes/" + std::to_string(n)).c_str(),
                                 [n](benchmark::State& s) { PreviewBench(s, 0, false, 0, n, n); })
        ->Repetitions(kPreviewRepetitions)
        ->Unit(benchmark::kMillisecond);
  }
  // A machine of n keys, a thousand to a key, and n/10 values in one key, at
  // half and at the goal's size.
  for (long n : {500000L, 1000000L}) {
    benchmark::RegisterBenchmark(
        ("preview_machine/" + std::to_string(n)).c_str(),
        [n](benchmark::State& s) { PreviewBench(s, n, true, n / 10, 0, n); })
        ->Repetitions(kPreviewRepetitions)
        ->Unit(benchmark::kMillisecond);
  }
  for (long n : {175000L, 350000L}) {
    benchmark::RegisterBenchmark(("preview_machine_file/" + std::to_string(n)).c_str(),
                                 [n](benchmark::State& s) { MachineFileBench(s, n); })
        ->Repetitions(kPreviewRepetitions)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("system_ini/9x", SystemIniBench)
      ->Arg(1)
      ->Arg(16)
      ->Arg(256)
      ->Arg(4096)
      ->MinWarmUpTime(0.5)
      ->MinTime(2.0)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("device_entries", DeviceEntriesBench)
      ->Arg(1)
      ->Arg(16)
      ->Arg(256)
      ->Arg(4096)
      ->Unit(benchmark::kMillisecond);
}

}  // namespace

int main(int argc, char** argv) {
  // Every iteration builds and frees a whole machine. Left to itself, the C
  // library hands the freed memory back to the kernel and faults it in again
  // for the next tree, a cost that grows with the tree and is not the work
  // being measured; keep the heap instead.
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  mallopt(M_TOP_PAD, 256 << 20);
  mallopt(M_MMAP_THRESHOLD, 32 << 20);  // the largest it takes
  Register();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
