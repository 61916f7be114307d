// The shared fixtures (real Access files and client databases). Tests that
// need them skip with a reason when they are absent, and fail instead when
// REQUIRE_SHARED=1.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

// The fixtures folder, or empty when absent.
std::filesystem::path sharedDir();

// Every .mdb under fixtures/real, fixtures/clientes and fixtures/large (a
// larger client database from another writer), sorted.
std::vector<std::filesystem::path> allFixtures();

// A fixture by its path under fixtures/ ("real/jet3/nwind.mdb").
std::filesystem::path fixture(const std::string& relative);

// A fresh scratch folder, removed when the test program ends (kept when
// JET_KEEP_SCRATCH is set).
std::filesystem::path scratchDir();

// A copy of a fixture that the test may write, as `name` in a fresh scratch
// folder.
std::filesystem::path scratchCopy(const std::string& relative, const std::string& name);

// A word of a command line, quoted for the system's shell (sh, or cmd.exe
// on Windows), and a command line run there: std::system's status.
std::string shellQuoted(const std::string& word);
int runCommand(const std::string& command);

}  // namespace testsupport

// Skips the test (or fails it under REQUIRE_SHARED=1) when the fixtures are absent.
#define REQUIRE_FIXTURES()                                                       \
  do {                                                                           \
    if (::testsupport::sharedDir().empty()) {                                    \
      if (::testsupport::requireShared()) FAIL() << ::testsupport::missingWhy(); \
      GTEST_SKIP() << ::testsupport::missingWhy();                               \
    }                                                                            \
  } while (0)

namespace testsupport {
bool requireShared();
std::string missingWhy();
}  // namespace testsupport
