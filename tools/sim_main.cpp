// Entry point of quorvelle-sim.
#include <iostream>

#include "common/os.h"
#include "tools/sim_tool.h"

int main(int argc, char** argv) {
    qv::os::PrepareConsole();
    return qv::RunSimTool(argc, argv, std::cout, std::cerr);
}
