// Entry point of quorvelle-sim.
#include <iostream>

#include "tools/sim_tool.h"

int main(int argc, char** argv) { return qv::RunSimTool(argc, argv, std::cout, std::cerr); }
