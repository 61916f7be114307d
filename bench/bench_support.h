// What the benchmarks share: timing, a scratch folder that goes on every way
// out, generating a client database with mkclientes, and argument parsing.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "jet/value.h"

namespace bench {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start);
double median(std::vector<double> v);

// A new scratch folder under the temporary folder, removed at exit and on
// SIGINT/SIGTERM. Throws std::runtime_error when it cannot be made.
std::string makeScratch(const char* prefix);

// Runs mkclientes (the MKCLIENTES environment variable overrides which one)
// with --scatter, so each client's rows lie all over the dependent tables as
// in a database that grew over years and the figures include that seeking;
// throws std::runtime_error with its exit status when it fails.
void generate(const std::string& out, uint64_t clients, uint64_t max_deps);

// Folds a value into a number, so reads cannot be optimised away.
uint64_t fold(const jet::Value& v);

// Bytes this process has handed to write calls so far (Linux /proc/self/io).
uint64_t bytesWritten();

// Reads the number after argv[i] (advancing i); false when there is none.
bool numberArg(int argc, char** argv, int& i, uint64_t& out);

}  // namespace bench
