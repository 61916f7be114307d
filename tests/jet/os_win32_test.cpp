// What the operating-system layer does differently on Windows: other
// programs kept from writing the database while a unit of work is open,
// byte locks held by handles, Windows' errors told apart as on POSIX, and
// paths outside ASCII, which the engine keeps in UTF-8.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "io/journal.h"
#include "io/lock_file.h"
#include "io/os.h"
#include "jet/database.h"
#include "jet/error.h"
#include "support/faulty_os.h"
#include "support/shared_fixtures.h"

namespace fs = std::filesystem;
using testsupport::FaultyOs;
using testsupport::OsOp;

namespace {

// The engine's paths are UTF-8; std::filesystem's are UTF-16 here.
fs::path fromUtf8(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string toUtf8(const fs::path& path) {
  const std::u8string s = path.u8string();
  return std::string(s.begin(), s.end());
}

std::wstring wide(const std::string& utf8) {
  return fromUtf8(utf8).wstring();
}

// A handle as another program would open the file: reading or also
// writing, sharing what the operators' programs share.
HANDLE otherProgramOpens(const std::string& path, DWORD access,
                         DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE) {
  return ::CreateFileW(wide(path).c_str(), access, share, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::vector<uint8_t> fileBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

class OsWin32 : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_FIXTURES();
    file_ = testsupport::scratchCopy("clientes/clientes-v2000-small.mdb", "clientes.mdb");
    path_ = file_.string();
    original_ = fileBytes(file_);
  }

  // Deletes the first row of cliprod through `os`; `during` runs at every
  // call the commit makes to the system.
  void deleteOneRow(jet::Os& os, const std::string& path) {
    jet::Database db(path, jet::OpenMode::ReadWrite, os);
    const jet::Table products = db.table("cliprod");
    db.deleteRow(products, products.rowIds().front());
  }

  fs::path file_;
  std::string path_;
  std::vector<uint8_t> original_;
};

// While a unit of work is open no other program can open the database for
// writing, though it can read it; before and after, it can do both.
TEST_F(OsWin32, OtherProgramsWriteOnlyOutsideUnits) {
  auto canOpen = [&](DWORD access) {
    const HANDLE h = otherProgramOpens(path_, access);
    if (h == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(h);
    return true;
  };
  FaultyOs os;
  int checked = 0;
  os.on_call = [&](const testsupport::OsCall& call) {
    if (call.op != OsOp::Write || call.path != path_) return;
    EXPECT_FALSE(canOpen(GENERIC_READ | GENERIC_WRITE)) << "another writer during the commit";
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(canOpen(GENERIC_READ)) << "readers are refused during the commit";
    ++checked;
  };
  {
    jet::Database db(path_, jet::OpenMode::ReadWrite, os);
    EXPECT_TRUE(canOpen(GENERIC_READ | GENERIC_WRITE)) << "an open database keeps others out";
    const jet::Table products = db.table("cliprod");
    db.begin();
    db.deleteRow(products, products.rowIds().front());
    EXPECT_FALSE(canOpen(GENERIC_READ | GENERIC_WRITE)) << "another writer inside the unit";
    EXPECT_TRUE(canOpen(GENERIC_READ));
    db.commit();
    EXPECT_TRUE(canOpen(GENERIC_READ | GENERIC_WRITE)) << "still kept out after the unit";
  }
  EXPECT_GT(checked, 0);
  EXPECT_NE(fileBytes(file_), original_);
}

// A program that has the database open for writing, or open without
// sharing it, stops a unit as the lock file of a live program does: the
// engine's "in use" message, nothing written, no lock file left.
TEST_F(OsWin32, AnotherWriterStopsAUnit) {
  const std::vector<std::pair<DWORD, DWORD>> others = {
      {GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE},
      {GENERIC_READ, FILE_SHARE_READ},  // a reader that lets nobody write
  };
  for (const auto& [access, share] : others) {
    SCOPED_TRACE(share);
    jet::Database db(path_, jet::OpenMode::ReadWrite);
    const HANDLE other = otherProgramOpens(path_, access, share);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    const jet::Table products = db.table("cliprod");
    try {
      db.deleteRow(products, products.rowIds().front());
      ADD_FAILURE() << "wrote under another program's writer";
    } catch (const jet::JetError& e) {
      EXPECT_EQ(e.number(), jet::err::kFileInUse) << e.what();
    }
    ::CloseHandle(other);
    EXPECT_FALSE(fs::exists(jet::lockFilePath(path_)));
    EXPECT_EQ(fileBytes(file_), original_);
  }
}

// A byte lock on the lock file, held by another handle as a live program
// holds it, stops every write and keeps the lock file; once that handle
// closes (the program died) the lock file is stale and taken over.
TEST_F(OsWin32, AHandlesLockOnTheLockFileStopsWritesUntilItCloses) {
  const std::string lock = jet::lockFilePath(path_);
  { std::ofstream(lock) << "PC-OFICINA"; }
  const HANDLE holder = otherProgramOpens(lock, GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  OVERLAPPED ov{};
  ASSERT_TRUE(
      ::LockFileEx(holder, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &ov));
  try {
    deleteOneRow(jet::systemOs(), path_);
    ADD_FAILURE() << "deleted while another program holds the lock file";
  } catch (const jet::JetError& e) {
    EXPECT_EQ(e.number(), jet::err::kFileInUse) << e.what();
  }
  EXPECT_TRUE(fs::exists(lock)) << "another program's lock file stays";
  EXPECT_EQ(fileBytes(file_), original_);
  ::CloseHandle(holder);
  deleteOneRow(jet::systemOs(), path_);
  EXPECT_FALSE(fs::exists(lock)) << "the lock goes with the unit";
  EXPECT_NE(fileBytes(file_), original_);
}

// Windows' errors reach the engine as the same kinds of failure as POSIX's.
TEST_F(OsWin32, WindowsErrorsMapToTheEnginesKinds) {
  jet::Os& os = jet::systemOs();
  const std::string dir = file_.parent_path().string();
  std::unique_ptr<jet::OsFile> f;
  EXPECT_EQ(os.open(dir + "\\no.mdb", jet::OpenFor::Read, f).failure, jet::OsFailure::NotFound);
  EXPECT_EQ(os.open(dir + "\\no\\x.mdb", jet::OpenFor::Create, f).failure,
            jet::OsFailure::NotFound);
  EXPECT_EQ(os.open(path_, jet::OpenFor::CreateNew, f).failure, jet::OsFailure::AlreadyExists);
  EXPECT_EQ(os.open(dir, jet::OpenFor::Read, f).failure, jet::OsFailure::Other) << "a folder";
  EXPECT_EQ(os.open("NUL", jet::OpenFor::Read, f).failure, jet::OsFailure::Other) << "a device";
  EXPECT_EQ(os.remove(dir + "\\no.mdb").failure, jet::OsFailure::NotFound);

  ASSERT_TRUE(os.open(path_, jet::OpenFor::Read, f));
  uint64_t size = 0;
  ASSERT_TRUE(f->size(size));
  uint8_t byte[2];
  EXPECT_EQ(f->read(size - 1, byte, 2).failure, jet::OsFailure::PastEnd);
  f.reset();

  const HANDLE alone = otherProgramOpens(path_, GENERIC_READ, 0);
  ASSERT_NE(alone, INVALID_HANDLE_VALUE);
  EXPECT_EQ(os.open(path_, jet::OpenFor::Read, f).failure, jet::OsFailure::Locked);
  ::CloseHandle(alone);

  // Locks: another handle of the same file is refused, in this program too.
  std::unique_ptr<jet::OsFile> a, b;
  const std::string lock = dir + "\\bloqueo.ldb";
  ASSERT_TRUE(os.open(lock, jet::OpenFor::OpenOrCreate, a));
  ASSERT_TRUE(os.open(lock, jet::OpenFor::OpenOrCreate, b));
  EXPECT_TRUE(a->tryLock(0, 0));
  EXPECT_EQ(b->tryLock(0, 0).failure, jet::OsFailure::Locked);
  EXPECT_EQ(b->tryLock(1000, 10).failure, jet::OsFailure::Locked) << "0 locks past the end";
  a.reset();
  EXPECT_TRUE(b->tryLock(0, 0)) << "the lock went with its handle";

  EXPECT_TRUE(jet::refusedForPermission({jet::OsFailure::Other, ERROR_ACCESS_DENIED}));
  EXPECT_TRUE(jet::refusedForPermission({jet::OsFailure::Other, ERROR_WRITE_PROTECT}));
  EXPECT_FALSE(jet::refusedForPermission({jet::OsFailure::Other, ERROR_CRC}));
}

bool underWine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}

// A database in a folder whose name is not ASCII opens, is written, and
// has its lock file and journal beside it under the same folder name.
TEST_F(OsWin32, AFolderNameOutsideAsciiWorks) {
  // Under Wine, C:\ is a folder of the test's own Wine configuration; on a
  // real machine the folder goes under the scratch folder instead.
  const fs::path base = underWine() ? fs::path(L"C:\\Datos") : testsupport::scratchDir() / "Datos";
  const fs::path dir = base / fromUtf8("A\xC3\xB1o 2010");
  fs::remove_all(dir);
  fs::create_directories(dir);
  const fs::path copy = dir / "clientes.mdb";
  fs::copy_file(file_, copy);
  const std::string path = toUtf8(base) + "\\A\xC3\xB1o 2010\\clientes.mdb";

  std::string real;
  ASSERT_TRUE(jet::systemOs().realPath(path, real));
  EXPECT_EQ(fromUtf8(real), copy) << real;
  EXPECT_EQ(real.rfind("\\\\?\\", 0), std::string::npos) << "an ordinary path keeps no prefix";

  FaultyOs os;
  bool seen = false;
  os.on_call = [&](const testsupport::OsCall& call) {
    if (call.op != OsOp::Write || call.path != path || seen) return;
    seen = true;
    EXPECT_TRUE(fs::exists(dir / "clientes.ldb"));
    EXPECT_TRUE(fs::exists(fromUtf8(jet::journalPath(real))));
    EXPECT_EQ(fromUtf8(jet::journalPath(real)).parent_path(), dir);
  };
  deleteOneRow(os, path);
  EXPECT_TRUE(seen) << "the database was not written";
  EXPECT_FALSE(fs::exists(dir / "clientes.ldb"));
  EXPECT_NE(fileBytes(copy), original_);
  {
    jet::Database db(path, jet::OpenMode::ReadOnly);
    EXPECT_EQ(db.table("cliprod").rowIds().size() + 1,
              jet::Database(path_, jet::OpenMode::ReadOnly).table("cliprod").rowIds().size());
  }
  fs::remove_all(dir);
}

}  // namespace
