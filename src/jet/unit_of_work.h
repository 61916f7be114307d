// A unit of work as a scope: begun on construction, rolled back when the
// scope is left without commit (an error on the way), so a half-done change
// never reaches the file.
#pragma once

#include "database.h"

namespace jet {

class UnitOfWork {
 public:
  explicit UnitOfWork(Database& db) : db_(db) { db_.begin(); }
  ~UnitOfWork() {
    if (!done_) db_.rollback();
  }
  UnitOfWork(const UnitOfWork&) = delete;
  UnitOfWork& operator=(const UnitOfWork&) = delete;

  void commit() {
    done_ = true;  // a failed commit has already put everything back
    db_.commit();
  }

 private:
  Database& db_;
  bool done_ = false;
};

}  // namespace jet
