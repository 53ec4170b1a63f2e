// Running quorvelle-batch in-process from tests.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "tools/batch.h"

namespace qv {

struct BatchRun {
    int status = -1;
    std::string out, err;
};

inline BatchRun RunTool(std::vector<std::string> args) {
    args.insert(args.begin(), "quorvelle-batch");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    std::ostringstream out, err;
    BatchRun r;
    r.status = RunBatch(static_cast<int>(argv.size()), argv.data(), out, err);
    r.out = out.str();
    r.err = err.str();
    return r;
}

}  // namespace qv
