// Clients deleted in one unit of work, committed once. The purge's rows are
// spread over the whole file; deleting them client by client and committing
// every few hundred clients wrote most pages of a large file again at each
// commit. So every client's deletes are deferred (Database::deferDeletes):
// the commit deletes them all in the file's order, each page written once.
// Each client is behind its own savepoint: a client that fails is taken
// back alone, the clients before it are committed, then the error goes on.
// The unit is committed at finish(), or earlier when the deferred rows
// reach a memory cap. A crash before a commit leaves the file as the
// previous commit left it (the whole run, when there was none). The
// database's write lock is held from the first client to finish(), so that
// no other program writes between the commits of one purge.
#pragma once

#include <chrono>
#include <cstddef>
#include <limits>
#include <optional>

#include "jet/database.h"

namespace purge {

// When a commit is due besides finish(). Tests that cut the power or fail a
// call at a chosen commit set `clients`, so that the commits fall on the
// same clients on every run.
struct BatchLimits {
  // Clients between commits.
  size_t clients = std::numeric_limits<size_t>::max();
  // How long a unit may last; zero for no limit.
  std::chrono::milliseconds time{0};
  // Deferred rows a unit may hold: 5 bytes each (a million clients give
  // some 5.6 million rows).
  size_t rows = 12'000'000;
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
  // After a client's last change; commits the unit when a limit is reached.
  void endClient();
  // Commits whatever the unit holds and lets the write lock go.
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
