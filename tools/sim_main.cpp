// Entry point of quorvelle-sim.
#include <iostream>

#include "tools/sim_tool.h"
#include "tools/tool_main.h"

int main(int argc, char** argv) {
    return qv::RunToolMain(argc, argv, [](int n, char** args) {
        return qv::RunSimTool(n, args, std::cout, std::cerr);
    });
}
