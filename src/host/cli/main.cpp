// The host program's entry: regswitch --registry FILE SWITCH...
#include <iostream>

#include "host/cli/run.h"

int main(int argc, char** argv) {
  return hostreg::RunHostProgram(argc, argv, std::cout, std::cerr);
}
