// The host program's entry: regswitch --registry FILE SWITCH...
#include <iostream>

#include "host/cli/run.h"

int main(int argc, char** argv) {
  hostreg::RealPlatform platform(hostreg::kExitFailure);
  return hostreg::RunHostProgram(argc, argv, std::cout, std::cerr, platform);
}
