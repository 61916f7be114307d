// The fuzzing entry point: one input, taken as the bytes of a database file,
// through what an operator's file goes through. Damage must end in a
// JetError (3343 and the like); any other exception, a crash or a sanitizer
// report is a fault of the engine.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
