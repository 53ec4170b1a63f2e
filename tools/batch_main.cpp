// Entry point of quorvelle-batch.
#include <iostream>

#include "tools/batch.h"

int main(int argc, char** argv) { return qv::RunBatch(argc, argv, std::cout, std::cerr); }
