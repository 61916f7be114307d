// purge_scale: one purge, as "Borrar" runs it, on a client database, for
// bench/scale.sh to measure how the purge grows with the database.
//
//   purge_scale FILE DD/MM/YYYY
//
// Runs purge::runPurge on FILE itself (the caller hands it a fresh copy)
// with the scripted runtime answering Yes to the backup reminder and the
// date box holding the cut-off date, no display. Prints one line of
// name=value pairs:
//   seconds      the purge, from the reminder's answer to its closing message
//   selected     clients the selection gave (the bar's range)
//   purged       clients the bar went through
//   peak_kb      the process's peak resident memory, in KiB
//   wchar        bytes the process handed to write calls during the purge
//                (the file and its journal; Linux /proc/self/io "wchar",
//                Windows WriteTransferCount)
//   write_bytes  bytes the system counted as sent to storage for the
//                process during the purge (Linux "write_bytes"; 0 elsewhere)
//
// Plain standard C++ apart from processFigures(), so that the program can
// be built for Windows as well.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <fstream>
#include <sstream>
#include <string>

#include "jet/error.h"
#include "purge/purge_run.h"
#include "support/fake_runtime.h"
#include "support/scripted_form.h"

#ifdef _WIN32
#include <windows.h>
// windows.h first: psapi.h needs its types.
#include <psapi.h>
#endif

namespace {

struct ProcessFigures {
  uint64_t peak_kb = 0;
  uint64_t wchar = 0;
  uint64_t write_bytes = 0;
};

// The process's peak memory and bytes written so far, as the system counts them.
ProcessFigures processFigures() {
  ProcessFigures f;
#if defined(_WIN32)
  PROCESS_MEMORY_COUNTERS memory{};
  if (GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory)) {
    f.peak_kb = memory.PeakWorkingSetSize / 1024;
  }
  IO_COUNTERS io{};
  if (GetProcessIoCounters(GetCurrentProcess(), &io)) f.wchar = io.WriteTransferCount;
#elif defined(__linux__)
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) std::istringstream(line.substr(6)) >> f.peak_kb;
  }
  std::ifstream io("/proc/self/io");
  std::string key;
  uint64_t value = 0;
  while (io >> key >> value) {
    if (key == "wchar:") f.wchar = value;
    if (key == "write_bytes:") f.write_bytes = value;
  }
#endif
  return f;
}

// The scripted form, noting the bar's range (the clients selected) and how
// often it advanced.
class CountingForm : public testsupport::ScriptedForm {
 public:
  using ScriptedForm::ScriptedForm;
  void setBar1Max(float m) override {
    selected = static_cast<uint64_t>(m);
    ScriptedForm::setBar1Max(m);
  }
  void setBar1Value(float v) override {
    if (v > 0) ++advanced;
    ScriptedForm::setBar1Value(v);
  }
  uint64_t selected = 0;
  uint64_t advanced = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "uso: purge_scale ARCHIVO DD/MM/AAAA\n");
    return 2;
  }
  try {
    testsupport::FakeRuntime rt;
    rt.answers = {runtime::kResultYes};
    CountingForm form(argv[1], argv[2]);
    const ProcessFigures before = processFigures();
    const auto t0 = std::chrono::steady_clock::now();
    purge::runPurge(rt, form);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const ProcessFigures after = processFigures();
    if (!rt.errors.empty() || !rt.ends.empty()) {
      std::fprintf(stderr, "purge_scale: the purge ended otherwise than by its closing message\n");
      return 1;
    }
    std::printf("seconds=%.3f selected=%llu purged=%llu peak_kb=%llu wchar=%llu write_bytes=%llu\n",
                seconds, static_cast<unsigned long long>(form.selected),
                static_cast<unsigned long long>(form.advanced),
                static_cast<unsigned long long>(after.peak_kb),
                static_cast<unsigned long long>(after.wchar - before.wchar),
                static_cast<unsigned long long>(after.write_bytes - before.write_bytes));
  } catch (const jet::JetError& e) {
    std::fprintf(stderr, "purge_scale: error %d: %s\n", e.number(), e.what());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "purge_scale: %s\n", e.what());
    return 1;
  }
  return 0;
}
