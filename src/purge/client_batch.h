// Clients committed in batches. A commit syncs the disk several times, which
// costs far more than deleting a client and its rows; so clients share a
// unit of work, each behind its own savepoint. A client that fails is taken
// back alone: the clients before it are committed, then the error goes on.
// A batch is committed when it has lasted a quarter of a second or holds
// 500 clients, whichever comes first, and at the end. A crash before a
// batch's commit leaves the file as the previous commit left it. The
// database's write lock is held from the first client to finish(), so that
// no other program writes between the batches of one purge.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>

#include "jet/database.h"

namespace purge {

// When a batch is committed. Tests that cut the power or fail a call at a
// chosen commit lift the time limit, so that the commits fall on the same
// clients on every run.
struct BatchLimits {
  size_t clients = 500;
  std::chrono::milliseconds time{250};
};

class ClientBatch {
 public:
  explicit ClientBatch(jet::Database& db, BatchLimits limits = {}) : db_(db), limits_(limits) {}
  // Takes back a client left unfinished and commits the clients before it.
  ~ClientBatch();
  ClientBatch(const ClientBatch&) = delete;
  ClientBatch& operator=(const ClientBatch&) = delete;

  // Before a client's first change.
  void beginClient();
  // After a client's last change; commits the batch when it is due.
  void endClient();
  // Commits whatever the batch holds and lets the write lock go.
  void finish();

 private:
  void commitBatch();

  jet::Database& db_;
  BatchLimits limits_;
  std::optional<jet::Database::WriteSession> session_;
  bool open_ = false;       // a unit of work is open
  bool in_client_ = false;  // between beginClient and endClient
  size_t clients_ = 0;      // finished clients in the open unit
  std::chrono::steady_clock::time_point started_;
};

}  // namespace purge
