#include "support/faulty_os.h"

namespace testsupport {

namespace {

using jet::OsStatus;

class FaultyFile final : public jet::OsFile {
 public:
  FaultyFile(FaultyOs& os, std::string path, std::unique_ptr<jet::OsFile> real)
      : os_(&os), path_(std::move(path)), real_(std::move(real)) {}

  OsStatus read(uint64_t offset, uint8_t* out, size_t count) override {
    return pass(OsOp::Read, [&] { return real_->read(offset, out, count); });
  }
  OsStatus write(uint64_t offset, const uint8_t* data, size_t count) override {
    return pass(OsOp::Write, [&] { return real_->write(offset, data, count); });
  }
  OsStatus sync() override {
    return pass(OsOp::Sync, [&] { return real_->sync(); });
  }
  OsStatus truncate(uint64_t size) override {
    return pass(OsOp::Truncate, [&] { return real_->truncate(size); });
  }
  OsStatus size(uint64_t& out) override {
    return pass(OsOp::Size, [&] { return real_->size(out); });
  }
  OsStatus identity(jet::FileIdentity& out) override {
    return pass(OsOp::Identity, [&] { return real_->identity(out); });
  }
  OsStatus tryLock(uint64_t offset, uint64_t length) override {
    return pass(OsOp::LockByte, [&] { return real_->tryLock(offset, length); });
  }
  OsStatus close() override {
    return pass(OsOp::Close, [&] { return real_->close(); });
  }

 private:
  template <typename Call>
  OsStatus pass(OsOp op, Call call) {
    OsStatus failure;
    if (os_->enter(op, path_, failure)) return failure;
    return call();
  }

  FaultyOs* os_;
  std::string path_;
  std::unique_ptr<jet::OsFile> real_;
};

}  // namespace

const char* opName(OsOp op) {
  switch (op) {
    case OsOp::Open:
      return "open";
    case OsOp::Read:
      return "read";
    case OsOp::Write:
      return "write";
    case OsOp::Sync:
      return "sync";
    case OsOp::Truncate:
      return "truncate";
    case OsOp::Size:
      return "size";
    case OsOp::Identity:
      return "identity";
    case OsOp::LockByte:
      return "lock";
    case OsOp::Close:
      return "close";
    case OsOp::Remove:
      return "remove";
    case OsOp::Exists:
      return "exists";
    case OsOp::SyncFolder:
      return "sync folder";
    case OsOp::ComputerName:
      return "computer name";
    case OsOp::Rename:
      return "rename";
    case OsOp::RealPath:
      return "real path";
  }
  return "?";
}

void FaultyOs::failCall(OsOp op, int nth, OsStatus failure) {
  faults_.emplace(op, std::make_pair(count(op) + nth, failure));
}

int FaultyOs::count(OsOp op) const {
  auto it = counts_.find(op);
  return it == counts_.end() ? 0 : it->second;
}

bool FaultyOs::enter(OsOp op, const std::string& path, OsStatus& failure) {
  const int number = ++counts_[op];
  bool fail = false;
  auto [from, to] = faults_.equal_range(op);
  for (auto it = from; it != to; ++it) {
    if (it->second.first == number) {
      fail = true;
      failure = it->second.second;
    }
  }
  calls_.push_back({op, path, fail});
  if (on_call) on_call(calls_.back());
  return fail;
}

OsStatus FaultyOs::open(const std::string& path, jet::OpenFor how,
                        std::unique_ptr<jet::OsFile>& out) {
  OsStatus failure;
  if (enter(OsOp::Open, path, failure)) return failure;
  std::unique_ptr<jet::OsFile> real;
  OsStatus s = real_->open(path, how, real);
  if (s) out = std::make_unique<FaultyFile>(*this, path, std::move(real));
  return s;
}

OsStatus FaultyOs::remove(const std::string& path) {
  OsStatus failure;
  if (enter(OsOp::Remove, path, failure)) return failure;
  return real_->remove(path);
}

OsStatus FaultyOs::rename(const std::string& from, const std::string& to) {
  OsStatus failure;
  if (enter(OsOp::Rename, from, failure)) return failure;
  return real_->rename(from, to);
}

OsStatus FaultyOs::realPath(const std::string& path, std::string& out) {
  OsStatus failure;
  if (enter(OsOp::RealPath, path, failure)) return failure;
  return real_->realPath(path, out);
}

bool FaultyOs::exists(const std::string& path) {
  OsStatus failure;
  if (enter(OsOp::Exists, path, failure)) return false;
  return real_->exists(path);
}

OsStatus FaultyOs::syncFolderOf(const std::string& path) {
  OsStatus failure;
  if (enter(OsOp::SyncFolder, path, failure)) return failure;
  return real_->syncFolderOf(path);
}

std::string FaultyOs::computerName() {
  OsStatus failure;
  if (enter(OsOp::ComputerName, "", failure)) return {};
  return real_->computerName();
}

}  // namespace testsupport
