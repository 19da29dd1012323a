// The trace of Win32 calls and the fault plan.
#include <cstdio>

#include "machine.h"

namespace sim {

std::string Quote(const char* s) {
  if (!s) return "NULL";
  std::string out = "\"";
  for (const char* p = s; *p; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c >= 0x7f) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\x%02X", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
  return out;
}

std::string Hex(uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(v));
  return buf;
}

std::string ResultText(int64_t v) { return std::to_string(v); }

std::string ResultText(const void* p) {
  if (!p) return "NULL";
  return Hex(reinterpret_cast<uintptr_t>(p));
}

CallRecord::CallRecord(const char* function, std::string args) : index_(0), fail_(false) {
  Machine& m = M();
  Call call;
  call.function = function;
  call.args = std::move(args);
  m.trace.push_back(std::move(call));
  index_ = m.trace.size() - 1;
}

void CallRecord::Done(const std::string& result) {
  Machine& m = M();
  if (index_ >= m.trace.size()) return;
  Call& call = m.trace[index_];
  call.result = result;
  call.lastError = m.lastError;
  call.injected = fail_;
}

}  // namespace sim
