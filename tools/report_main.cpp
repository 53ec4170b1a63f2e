// Entry point of quorvelle-report.
#include <iostream>

#include "common/os.h"
#include "tools/report.h"

int main(int argc, char** argv) {
    qv::os::PrepareConsole();
    return qv::RunReport(argc, argv, std::cout, std::cerr);
}
