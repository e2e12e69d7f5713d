#include <iostream>

#include "tools/kdbtool.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return pennacle::kdbtool_main(args, std::cout, std::cerr);
}
