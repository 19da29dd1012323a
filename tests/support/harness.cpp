#include "harness.h"

#include "drvsetup.h"
#include "guard.h"
#include "run.h"

sim::RunResult RunInstaller(const std::string& arguments) {
  std::string line = "\"" + std::string("C:\\SETUP\\DRVSETUP.EXE") + "\"";
  if (!arguments.empty()) line += " " + arguments;
  sim::SetCommandLine(line);
  PlatformFamily = 0;
  PlatformMajorVersion = 0;
  HostApplicationFound = false;
  return sim::Run(RunSetup);
}

std::vector<std::string> BoxTexts() {
  std::vector<std::string> texts;
  for (const sim::Box& box : sim::Boxes()) texts.push_back(box.text);
  return texts;
}

sim::RunResult RunCutBefore(size_t k, size_t /*callsOfWholeRun*/, void (*entry)()) {
  sim::ClearTrace();
  sim::ClearFaults();
  sim::StopBeforeCall(k);
  const sim::RunResult result = sim::Run(entry);
  sim::ClearFaults();
  return result;
}

void CutRunAgainAndRestart(size_t k, size_t callsOfWholeRun, void (*entry)()) {
  RunCutBefore(k, callsOfWholeRun, entry);
  sim::Restart();
  sim::Run(entry);
  sim::Restart();
}
