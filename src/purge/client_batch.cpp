#include "purge/client_batch.h"

namespace purge {

ClientBatch::~ClientBatch() {
  if (!open_) return;
  try {
    if (in_client_) db_.rollbackToSavepoint();
    if (clients_ > 0) {
      db_.commit();
    } else {
      db_.rollback();
    }
  } catch (...) {
    // A failed commit has put everything back; the error that ended the run
    // is the one to report.
  }
}

void ClientBatch::beginClient() {
  if (!session_) session_.emplace(db_);
  if (!open_) {
    db_.begin();
    db_.deferDeletes();
    open_ = true;
    clients_ = 0;
    started_ = std::chrono::steady_clock::now();
  }
  db_.savepoint();
  in_client_ = true;
}

void ClientBatch::endClient() {
  in_client_ = false;
  ++clients_;
  const bool timed_out =
      limits_.time.count() > 0 && std::chrono::steady_clock::now() - started_ >= limits_.time;
  if (clients_ >= limits_.clients || db_.pendingDeletes() >= limits_.rows || timed_out) {
    commitBatch();
  }
}

void ClientBatch::commitBatch() {
  if (!open_) return;
  open_ = false;  // a failed commit has already put everything back
  db_.commit();
}

void ClientBatch::finish() {
  try {
    commitBatch();
  } catch (...) {
    session_.reset();
    throw;
  }
  session_.reset();
}

}  // namespace purge
