// Entry point of quorvelle-report.
#include <iostream>

#include "tools/report.h"

int main(int argc, char** argv) { return qv::RunReport(argc, argv, std::cout, std::cerr); }
