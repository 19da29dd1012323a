// The simulated machine's core: the current machine, versions, the process's
// own identity, message boxes and running a program.
#include "machine.h"

namespace sim {

Machine& M() {
  static Machine machine;
  return machine;
}

std::string Upper(const std::string& s) {
  std::string out = s;
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

}  // namespace sim
