// The call table built from sim/calls.def.
#include "calls.h"

#include <unordered_map>

namespace sim {

const std::vector<CallInfo>& Calls() {
  // The name is spelled out before any rename of the Windows preview build.
#define SIM_CALL(name, library, versions, failing, args, result) \
  {#name, #library ".DLL", versions, failing, args, result},
  static const std::vector<CallInfo> rows = {
#include "calls.def"
  };
#undef SIM_CALL
  return rows;
}

const CallInfo* FindCall(const std::string& name) {
  static const std::unordered_map<std::string, const CallInfo*> byName = [] {
    std::unordered_map<std::string, const CallInfo*> index;
    for (const CallInfo& call : Calls()) index[call.name] = &call;
    return index;
  }();
  auto it = byName.find(name);
  return it == byName.end() ? nullptr : it->second;
}

}  // namespace sim
