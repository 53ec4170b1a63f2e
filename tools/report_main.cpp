// Entry point of quorvelle-report.
#include <iostream>

#include "tools/report.h"
#include "tools/tool_main.h"

int main(int argc, char** argv) {
    return qv::RunToolMain(argc, argv, [](int n, char** args) {
        return qv::RunReport(n, args, std::cout, std::cerr);
    });
}
