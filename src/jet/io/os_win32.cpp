// The operating-system layer on Windows: the only file of the engine that
// calls the system there. Paths are UTF-8 everywhere in the engine and
// become UTF-16 only here, at the calls to the system, so that a folder like
// "Año 2010" works whatever the computer's ANSI code page is.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "io/os.h"

namespace jet {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

OsStatus failed(DWORD error) {
  OsStatus s;
  s.code = static_cast<int>(error);
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_INVALID_NAME:
    case ERROR_DIRECTORY:
      s.failure = OsFailure::NotFound;
      break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      s.failure = OsFailure::AlreadyExists;
      break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      s.failure = OsFailure::DiskFull;
      break;
    case ERROR_HANDLE_EOF:
      s.failure = OsFailure::PastEnd;
      break;
    // Byte ranges another handle locked (locks are binding on Windows), and
    // a file another program opened without sharing what we ask for.
    case ERROR_LOCK_VIOLATION:
    case ERROR_SHARING_VIOLATION:
      s.failure = OsFailure::Locked;
      break;
    default:
      s.failure = OsFailure::Other;
      break;
  }
  return s;
}

OsStatus lastFailure() {
  return failed(::GetLastError());
}

// UTF-8 to UTF-16; false for bytes that are not UTF-8.
bool widen(const std::string& in, std::wstring& out) {
  out.clear();
  if (in.empty()) return true;
  const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, in.data(),
                                      static_cast<int>(in.size()), nullptr, 0);
  if (n <= 0) return false;
  out.resize(static_cast<size_t>(n));
  return ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, in.data(),
                               static_cast<int>(in.size()), out.data(), n) == n;
}

std::string narrow(const wchar_t* in, size_t length) {
  if (length == 0) return {};
  const int n =
      ::WideCharToMultiByte(CP_UTF8, 0, in, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, in, static_cast<int>(length), out.data(), n, nullptr, nullptr);
  return out;
}

constexpr OsStatus kNotUtf8{OsFailure::NotFound, ERROR_NO_UNICODE_TRANSLATION};

// A path for the wide calls. Past MAX_PATH the classic calls refuse a path,
// unless it is given whole and with the "\\?\" prefix, which turns off the
// system's own clean-up of the path: so it is made absolute first.
bool systemPath(const std::string& utf8, std::wstring& out) {
  if (!widen(utf8, out)) return false;
  if (out.size() < MAX_PATH - 12 || out.rfind(L"\\\\?\\", 0) == 0) return true;
  const DWORD n = ::GetFullPathNameW(out.c_str(), 0, nullptr, nullptr);
  if (n == 0) return true;  // left as it was: the call itself will say what is wrong
  std::wstring full(n, L'\0');
  const DWORD got = ::GetFullPathNameW(out.c_str(), n, full.data(), nullptr);
  if (got == 0 || got >= n) return true;
  full.resize(got);
  if (full.rfind(L"\\\\", 0) == 0) {
    out = L"\\\\?\\UNC\\" + full.substr(2);
  } else {
    out = L"\\\\?\\" + full;
  }
  return true;
}

// The system's "\\?\" form of a path back to the one an operator knows,
// when that form names the same file ("\\?\C:\x" is "C:\x", "\\?\UNC\s\x"
// is "\\s\x"); kept when the path is too long for the ordinary form.
std::wstring ordinaryPath(std::wstring path) {
  if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) {
    std::wstring plain = L"\\\\" + path.substr(8);
    if (plain.size() < MAX_PATH) return plain;
  } else if (path.rfind(L"\\\\?\\", 0) == 0 && path.size() >= 7 && path[5] == L':' &&
             path[6] == L'\\') {
    std::wstring plain = path.substr(4);
    if (plain.size() < MAX_PATH) return plain;
  }
  return path;
}

// 100-nanosecond ticks since 1601, as nanoseconds (the epoch does not
// matter: the engine only compares them).
int64_t nanoseconds(const FILETIME& t) {
  const uint64_t ticks = (uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime;
  return static_cast<int64_t>(ticks) * 100;
}

OVERLAPPED at(uint64_t offset) {
  OVERLAPPED ov{};
  ov.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return ov;
}

// ReadFile and WriteFile take at most a DWORD of bytes at a time.
constexpr size_t kMaxChunk = size_t{1} << 30;

// Which file a handle reaches: the volume and the file's number on it.
using FileKey = std::pair<uint64_t, uint64_t>;

bool keyOf(HANDLE h, FileKey& key) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(h, &info)) return false;
  key = {info.dwVolumeSerialNumber, (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
  return true;
}

class Win32File;

// Keeping other programs from writing a file while the engine writes it.
//
// Windows decides at each open whether it may share the file with the
// handles already open: a handle opened without FILE_SHARE_WRITE refuses
// every later writer, and cannot be opened while any handle, ours
// included, may write. The operators' programs keep the database open for
// reading and writing all day, so it cannot be held that way for the whole
// of the engine's life: only while the engine holds the write lock (the
// lock file, for a unit of work or a session of them). Then one handle
// that shares reading only is opened, and every open of that file in this
// program writes through it; at other times one that writes gets a writer
// of its own that shares everything. Reads go through a read-only handle
// that never stands in the way.
struct Writers {
  HANDLE exclusive = INVALID_HANDLE_VALUE;
  std::vector<Win32File*> files;
};

class Win32File final : public OsFile {
 public:
  // Without `writers`, `handle` does everything. With them (an existing
  // file opened for writing), `handle` only reads, and the file is listed
  // under `key` among the program's writers of that file.
  Win32File(HANDLE handle, std::mutex* lock, std::map<FileKey, Writers>* writers, FileKey key)
      : handle_(handle), lock_(lock), writers_(writers), key_(key) {
    if (writers_) {
      std::lock_guard<std::mutex> hold(*lock_);
      (*writers_)[key_].files.push_back(this);
    }
  }
  ~Win32File() override { close(); }
  Win32File(const Win32File&) = delete;
  Win32File& operator=(const Win32File&) = delete;

  OsStatus read(uint64_t offset, uint8_t* out, size_t count) override {
    while (count > 0) {
      OVERLAPPED ov = at(offset);
      DWORD got = 0;
      const DWORD want = static_cast<DWORD>(std::min(count, kMaxChunk));
      if (!::ReadFile(handle_, out, want, &got, &ov)) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_HANDLE_EOF) return {OsFailure::PastEnd, 0};
        return failed(error);
      }
      if (got == 0) return {OsFailure::PastEnd, 0};
      out += got;
      count -= got;
      offset += got;
    }
    return {};
  }

  OsStatus write(uint64_t offset, const uint8_t* data, size_t count) override {
    HANDLE h;
    if (OsStatus s = writeHandle(h); !s) return s;
    while (count > 0) {
      OVERLAPPED ov = at(offset);
      DWORD put = 0;
      const DWORD want = static_cast<DWORD>(std::min(count, kMaxChunk));
      if (!::WriteFile(h, data, want, &put, &ov)) return lastFailure();
      if (put == 0) return {OsFailure::Other, 0};
      written_ = true;
      data += put;
      count -= put;
      offset += put;
    }
    return {};
  }

  // FlushFileBuffers writes the file's data and its size, and asks the disk
  // to empty its own cache. NTFS may also put off the last-write time of a
  // handle that wrote until the handle closes; setting it here, once the
  // data is down, makes the time the engine reads back now the one it keeps
  // (another program's change is told by that time moving).
  OsStatus sync() override {
    HANDLE h;
    if (OsStatus s = writeHandle(h); !s) return s;
    if (!::FlushFileBuffers(h)) return lastFailure();
    if (written_) {
      FILETIME now;
      ::GetSystemTimeAsFileTime(&now);
      ::SetFileTime(h, nullptr, nullptr, &now);
      written_ = false;
    }
    return {};
  }

  OsStatus truncate(uint64_t size) override {
    HANDLE h;
    if (OsStatus s = writeHandle(h); !s) return s;
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(size);
    if (!::SetFilePointerEx(h, to, nullptr, FILE_BEGIN) || !::SetEndOfFile(h)) {
      return lastFailure();
    }
    written_ = true;
    return {};
  }

  OsStatus size(uint64_t& out) override {
    LARGE_INTEGER n;
    if (!::GetFileSizeEx(handle_, &n)) return lastFailure();
    out = static_cast<uint64_t>(n.QuadPart);
    return {};
  }

  OsStatus identity(FileIdentity& out) override {
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(handle_, &info)) return lastFailure();
    out.size = (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    out.modified_ns = nanoseconds(info.ftLastWriteTime);
    out.device = info.dwVolumeSerialNumber;
    out.file_number = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    return {};
  }

  // LockFileEx locks belong to the handle, as the engine wants: another
  // handle of the same file, in this program or another, is refused, and
  // the lock goes when this handle is closed. Unlike POSIX locks they bind:
  // other handles can neither read nor write the locked bytes (the engine
  // locks only its lock file, which has one handle).
  OsStatus tryLock(uint64_t offset, uint64_t length) override {
    if (length == 0) length = ~uint64_t{0} - offset;  // up to the end and beyond
    OVERLAPPED ov = at(offset);
    if (::LockFileEx(handle_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                     static_cast<DWORD>(length & 0xFFFFFFFFu), static_cast<DWORD>(length >> 32),
                     &ov)) {
      return {};
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) {
      return {OsFailure::Locked, static_cast<int>(error)};
    }
    return failed(error);
  }

  OsStatus close() override {
    if (writers_) {
      std::lock_guard<std::mutex> hold(*lock_);
      auto& files = (*writers_)[key_].files;
      files.erase(std::remove(files.begin(), files.end(), this), files.end());
      if (files.empty() && (*writers_)[key_].exclusive == INVALID_HANDLE_VALUE) {
        writers_->erase(key_);
      }
      writers_ = nullptr;
    }
    if (writer_ != INVALID_HANDLE_VALUE) ::CloseHandle(writer_);
    writer_ = INVALID_HANDLE_VALUE;
    const HANDLE h = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    if (h != INVALID_HANDLE_VALUE && !::CloseHandle(h)) return lastFailure();
    return {};
  }

  // While other programs are kept from writing, the file's own writer goes
  // (it would share writing) and writes go through the one that does not.
  void dropWriter() {
    if (writer_ != INVALID_HANDLE_VALUE) ::CloseHandle(writer_);
    writer_ = INVALID_HANDLE_VALUE;
  }

 private:
  OsStatus writeHandle(HANDLE& out) {
    if (!writers_) {
      out = handle_;
      return {};
    }
    std::lock_guard<std::mutex> hold(*lock_);
    const HANDLE exclusive = (*writers_)[key_].exclusive;
    if (exclusive != INVALID_HANDLE_VALUE) {
      out = exclusive;
      return {};
    }
    if (writer_ == INVALID_HANDLE_VALUE) {
      // The file itself, whatever its name leads to now.
      writer_ = ::ReOpenFile(handle_, GENERIC_READ | GENERIC_WRITE, kShareAll, 0);
      if (writer_ == INVALID_HANDLE_VALUE) return lastFailure();
    }
    out = writer_;
    return {};
  }

  HANDLE handle_;
  HANDLE writer_ = INVALID_HANDLE_VALUE;
  std::mutex* lock_;
  std::map<FileKey, Writers>* writers_;
  FileKey key_;
  bool written_ = false;  // since the last sync
};

class WriteGuard final : public OsWriteGuard {
 public:
  WriteGuard(std::mutex& lock, std::map<FileKey, Writers>& writers, FileKey key)
      : lock_(lock), writers_(writers), key_(key) {}
  ~WriteGuard() override {
    std::lock_guard<std::mutex> hold(lock_);
    Writers& w = writers_[key_];
    ::CloseHandle(w.exclusive);
    w.exclusive = INVALID_HANDLE_VALUE;
    if (w.files.empty()) writers_.erase(key_);
  }
  WriteGuard(const WriteGuard&) = delete;
  WriteGuard& operator=(const WriteGuard&) = delete;

 private:
  std::mutex& lock_;
  std::map<FileKey, Writers>& writers_;
  FileKey key_;
};

class Win32Os final : public Os {
 public:
  OsStatus open(const std::string& path, OpenFor how, std::unique_ptr<OsFile>& out) override {
    std::wstring name;
    if (!systemPath(path, name)) return kNotUtf8;
    DWORD access = GENERIC_READ | GENERIC_WRITE;
    DWORD disposition = OPEN_EXISTING;
    switch (how) {
      case OpenFor::Read:
        access = GENERIC_READ;
        break;
      case OpenFor::ReadWrite:
        break;
      case OpenFor::Create:
        disposition = CREATE_ALWAYS;
        break;
      case OpenFor::CreateNew:
        disposition = CREATE_NEW;
        break;
      case OpenFor::OpenOrCreate:
        disposition = OPEN_ALWAYS;
        break;
    }
    // Other programs may read, write, rename and remove the file while it
    // is open, as on POSIX: the engine's own lock file says who may write,
    // and the operators' programs keep the database open all day. Sharing
    // deletion is also what lets the lock file go while it is still held.
    HANDLE h = INVALID_HANDLE_VALUE;
    for (int attempt = 0;; ++attempt) {
      h = ::CreateFileW(name.c_str(), access, kShareAll, nullptr, disposition,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
      if (h != INVALID_HANDLE_VALUE) break;
      const DWORD error = ::GetLastError();
      if (error == ERROR_SHARING_VIOLATION && how == OpenFor::ReadWrite) {
        return openWhileKept(name, out, error);
      }
      // A file removed while another handle still has it open keeps its
      // name until that handle closes, and refuses to be opened meanwhile
      // as if for want of permission: a lock file let go by another
      // program is such a file for an instant.
      if (error != ERROR_ACCESS_DENIED || attempt == 10 || how == OpenFor::Read ||
          how == OpenFor::ReadWrite || isFolder(name)) {
        return failed(error);
      }
      ::Sleep(5);
    }
    // "NUL", "CON" or a pipe open too, but are no files to read pages from.
    if (::GetFileType(h) != FILE_TYPE_DISK) {
      ::CloseHandle(h);
      return {OsFailure::Other, 0};
    }
    if (how != OpenFor::ReadWrite) {
      out = std::make_unique<Win32File>(h, nullptr, nullptr, FileKey{});
      return {};
    }
    // An existing file opened for writing, as the database is: once the
    // open has shown that it may be written, it keeps only a handle that
    // reads, and gets a writer when it first writes (see Writers). Between
    // units of work the database is then only read, and stands in the way
    // of no other program, not even one that reads it and lets nobody write.
    FileKey key;
    const HANDLE reader = ::ReOpenFile(h, GENERIC_READ, kShareAll, 0);
    const OsStatus s =
        reader == INVALID_HANDLE_VALUE || !keyOf(h, key) ? lastFailure() : OsStatus{};
    ::CloseHandle(h);
    if (!s) {
      if (reader != INVALID_HANDLE_VALUE) ::CloseHandle(reader);
      return s;
    }
    out = std::make_unique<Win32File>(reader, &lock_, &writers_, key);
    return {};
  }

  // A file this program keeps other writers from refuses a new writer of
  // this program's too: the new open writes through the one that may.
  OsStatus openWhileKept(const std::wstring& name, std::unique_ptr<OsFile>& out, DWORD error) {
    const HANDLE reader = ::CreateFileW(name.c_str(), GENERIC_READ, kShareAll, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (reader == INVALID_HANDLE_VALUE) return failed(error);
    FileKey key;
    bool kept = false;
    if (keyOf(reader, key)) {
      std::lock_guard<std::mutex> hold(lock_);
      auto it = writers_.find(key);
      kept = it != writers_.end() && it->second.exclusive != INVALID_HANDLE_VALUE;
    }
    if (!kept) {
      ::CloseHandle(reader);
      return failed(error);
    }
    out = std::make_unique<Win32File>(reader, &lock_, &writers_, key);
    return {};
  }

  // The one handle that writes the file while it lives refuses every other
  // writer; this program's own opens of the file give up theirs first, or
  // it could not be opened. Read-only handles are no obstacle either way.
  OsStatus keepOthersFromWriting(const std::string& path,
                                 std::unique_ptr<OsWriteGuard>& out) override {
    std::wstring name;
    if (!systemPath(path, name)) return kNotUtf8;
    // No access asked: this handle stands in nobody's way.
    const HANDLE probe =
        ::CreateFileW(name.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
    if (probe == INVALID_HANDLE_VALUE) return lastFailure();
    FileKey key;
    if (!keyOf(probe, key)) {
      const OsStatus s = lastFailure();
      ::CloseHandle(probe);
      return s;
    }
    std::lock_guard<std::mutex> hold(lock_);
    Writers& w = writers_[key];
    if (w.exclusive != INVALID_HANDLE_VALUE) {
      ::CloseHandle(probe);
      return {OsFailure::Locked, ERROR_SHARING_VIOLATION};  // already kept, by another holder here
    }
    for (Win32File* file : w.files) file->dropWriter();
    // Writing shared with no one; reading and renaming shared as always.
    w.exclusive =
        ::ReOpenFile(probe, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, 0);
    const OsStatus s = w.exclusive == INVALID_HANDLE_VALUE ? lastFailure() : OsStatus{};
    ::CloseHandle(probe);
    if (!s) {
      // The files' own writers come back when they next write.
      if (w.files.empty()) writers_.erase(key);
      return s;
    }
    out = std::make_unique<WriteGuard>(lock_, writers_, key);
    return {};
  }

  OsStatus remove(const std::string& path) override {
    std::wstring name;
    if (!systemPath(path, name)) return kNotUtf8;
    return ::DeleteFileW(name.c_str()) ? OsStatus{} : lastFailure();
  }

  // Write-through: the call returns once the new name is on the disk.
  OsStatus rename(const std::string& from, const std::string& to) override {
    std::wstring a, b;
    if (!systemPath(from, a) || !systemPath(to, b)) return kNotUtf8;
    return ::MoveFileExW(a.c_str(), b.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? OsStatus{}
               : lastFailure();
  }

  OsStatus realPath(const std::string& path, std::string& out) override {
    std::wstring name;
    if (!systemPath(path, name)) return kNotUtf8;
    // No access asked: only the name is wanted, whoever has the file open.
    const HANDLE h = ::CreateFileW(name.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return lastFailure();
    std::wstring final_name(MAX_PATH, L'\0');
    DWORD n =
        ::GetFinalPathNameByHandleW(h, final_name.data(), static_cast<DWORD>(final_name.size()), 0);
    if (n >= final_name.size()) {
      final_name.resize(n);
      n = ::GetFinalPathNameByHandleW(h, final_name.data(), static_cast<DWORD>(final_name.size()),
                                      0);
    }
    const OsStatus s = n == 0 || n >= final_name.size() ? lastFailure() : OsStatus{};
    ::CloseHandle(h);
    if (!s) return s;
    final_name.resize(n);
    final_name = ordinaryPath(std::move(final_name));
    out = narrow(final_name.data(), final_name.size());
    return {};
  }

  bool exists(const std::string& path) override {
    std::wstring name;
    return systemPath(path, name) && ::GetFileAttributesW(name.c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  // NTFS logs every change to a folder (a file created, renamed, removed)
  // in its own journal and replays it after a crash, and a write-through
  // rename is on the disk when it returns; there is no folder to flush as
  // on POSIX. A folder handle opened for writing can be flushed all the
  // same, which also writes that log out: done where the system allows it,
  // and where it does not the change is as safe as NTFS makes it.
  OsStatus syncFolderOf(const std::string& path) override {
    std::wstring name;
    if (!systemPath(path, name)) return kNotUtf8;
    const size_t slash = name.find_last_of(L"\\/");
    std::wstring dir = slash == std::wstring::npos ? std::wstring(L".") : name.substr(0, slash + 1);
    const HANDLE h = ::CreateFileW(dir.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      const OsStatus s = lastFailure();
      return s.failure == OsFailure::NotFound ? s : OsStatus{};
    }
    ::FlushFileBuffers(h);
    ::CloseHandle(h);
    return {};
  }

  std::string computerName() override {
    wchar_t host[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD n = MAX_COMPUTERNAME_LENGTH + 1;
    if (!::GetComputerNameW(host, &n)) return {};
    return narrow(host, n);
  }

 private:
  std::mutex lock_;
  std::map<FileKey, Writers> writers_;

  static bool isFolder(const std::wstring& name) {
    const DWORD attributes = ::GetFileAttributesW(name.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }
};

}  // namespace

Os& systemOs() {
  static Win32Os os;
  return os;
}

bool isPathSeparator(char c) {
  return c == '\\' || c == '/';
}

bool refusedForPermission(const OsStatus& status) {
  switch (status.code) {
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_NOT_SUPPORTED:
    case ERROR_PRIVILEGE_NOT_HELD:
      return !status.ok();
    default:
      return false;
  }
}

}  // namespace jet
