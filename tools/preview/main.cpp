// drvsetup-preview: see preview.h.
#include <iostream>
#include <string>
#include <vector>

#include "preview.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  int code = preview::PreviewMain(args, std::cout, std::cerr);
  std::cout.flush();
  return code;
}
