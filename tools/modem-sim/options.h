#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "faults.h"

struct Options {
    std::string outDir;
    std::string link;
    std::chrono::seconds idleTimeout{60};
    FaultPlan fault;
    bool verbose = false;
    bool help = false;
};

// The options of argv, or nothing with error set.
std::optional<Options> parseOptions(int argc, char** argv, std::string& error);
std::string usage();
