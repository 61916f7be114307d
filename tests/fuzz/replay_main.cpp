// The fuzzing entry point without libFuzzer: runs it once on each file
// named (a folder: on each .mdb file in it, in name order), so that every input
// that ever crashed the engine is tried again by every build's tests.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "fuzz_target.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    if (fs::is_directory(argv[i])) {
      std::vector<fs::path> in_folder;
      for (const auto& e : fs::directory_iterator(argv[i])) {
        if (e.is_regular_file() && e.path().extension() == ".mdb") in_folder.push_back(e.path());
      }
      std::sort(in_folder.begin(), in_folder.end());
      inputs.insert(inputs.end(), in_folder.begin(), in_folder.end());
    } else {
      inputs.emplace_back(argv[i]);
    }
  }
  if (inputs.empty()) {
    std::fprintf(stderr, "uso: jet_fuzz_replay ARCHIVO|CARPETA...\n");
    return 2;
  }
  for (const fs::path& p : inputs) {
    std::ifstream in(p, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "no se puede leer %s\n", p.string().c_str());
      return 1;
    }
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>()};
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    std::printf("%s: sin fallos\n", p.filename().string().c_str());
  }
  return 0;
}
