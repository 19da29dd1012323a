// The trace of Win32 calls and the fault plan.
#include <cstdio>

#include "calls.h"
#include "machine.h"

namespace sim {

std::string Quote(const char* s) { return s ? "\"" + text::Escape(s) + "\"" : "NULL"; }

std::string ResultText(int64_t v) { return std::to_string(v); }

std::string ResultText(const void* p) {
  if (!p) return "NULL";
  return Hex(reinterpret_cast<uintptr_t>(p));
}

std::string PointerArg(const void* p) { return p ? "ptr" : "NULL"; }

namespace {

// The argument text as the caller wrote it: quoted strings lose their C
// escapes, so that a rule can name a path with single backslashes.
std::string Unescaped(const std::string& args) {
  std::string out;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == '\\' && i + 1 < args.size()) {
      char next = args[i + 1];
      if (next == '\\' || next == '"') {
        out += next;
        ++i;
        continue;
      }
    }
    out += args[i];
  }
  return out;
}

bool Contains(const std::string& haystack, const std::string& needle) {
  return Upper(haystack).find(Upper(needle)) != std::string::npos;
}

// Whether the fault plan fails this call; a matching rule with a count uses
// one of its failures.
bool PlanFails(Machine& m, const Call& call, size_t index) {
  if (!IsFailable(call.function)) return false;
  bool fails = false;
  for (Machine::FaultRule& rule : m.faults) {
    if (rule.remaining == 0) continue;
    if (rule.index != 0 && rule.index != index) continue;
    if (!rule.function.empty() && rule.function != call.function) continue;
    if (!rule.argContains.empty() && !Contains(call.args, rule.argContains) &&
        !Contains(Unescaped(call.args), rule.argContains))
      continue;
    if (rule.remaining != SIZE_MAX) --rule.remaining;
    fails = true;
  }
  return fails;
}

}  // namespace

CallRecord::CallRecord(const char* function, std::string args) : index_(0), fail_(false) {
  Machine& m = M();
  if (m.stopBefore != 0 && m.trace.size() + 1 == m.stopBefore) {
    // Once only: a call made while the stack unwinds is not a second stop.
    m.stopBefore = 0;
    throw ProcessStop();
  }
  Call call;
  call.function = function;
  call.args = std::move(args);
  m.trace.push_back(std::move(call));
  index_ = m.trace.size() - 1;
  fail_ = PlanFails(m, m.trace[index_], index_ + 1);
  m.trace[index_].injected = fail_;
}

void CallRecord::Done(const std::string& result) {
  Machine& m = M();
  if (index_ >= m.trace.size()) return;
  Call& call = m.trace[index_];
  call.result = result;
  call.lastError = m.lastError;
  call.injected = fail_;
}

// ------------------------------------------------------ control interface

const std::vector<Call>& Trace() { return M().trace; }

void ClearTrace() { M().trace.clear(); }

size_t CallCount() { return M().trace.size(); }

std::string TraceText() {
  std::string out;
  for (const Call& call : M().trace) {
    out += call.function + "(" + call.args + ") = " + call.result;
    out += "  err=" + std::to_string(call.lastError);
    if (call.injected) out += "  [injected]";
    out += "\n";
  }
  return out;
}

void FailCall(size_t index) {
  Machine::FaultRule rule;
  rule.index = index;
  rule.remaining = 1;
  M().faults.push_back(rule);
}

void FailFunction(const std::string& function, const std::string& argContains, size_t times) {
  Machine::FaultRule rule;
  rule.function = function;
  rule.argContains = argContains;
  rule.remaining = times;
  M().faults.push_back(rule);
}

void StopBeforeCall(size_t index) { M().stopBefore = index; }

void ClearFaults() {
  M().faults.clear();
  M().stopBefore = 0;
}

bool IsFailable(const std::string& function) {
  // The calls that release what another obtained, and the few that cannot
  // fail on Windows, say so in the call table.
  const CallInfo* call = FindCall(function);
  if (call) return call->failing == kCanFail;
  return !function.empty();
}

}  // namespace sim
