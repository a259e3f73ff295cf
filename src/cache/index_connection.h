#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "cache/index_schema.h"
#include "cache/source_identity.h"
#include "cache/sqlite_handle.h"

// One open connection to a cache index with its statements, each prepared once.
// Not locked: its owner serialises all use.
struct IndexConnection {
  // Opens path and makes it ours (see prepare_index_schema). On kUnusable and
  // kBusy nothing is returned and reason says why.
  static std::unique_ptr<IndexConnection> open(const std::string& path, SchemaState& state,
                                               std::string& reason);

  // The id of a fingerprint's text; with create, a new one is added when missing
  // (inside the caller's transaction). false when absent or on error (rc set).
  bool fingerprint_id(const std::string& text, bool create, int64_t& id, int& rc);
  // Ids learnt inside a transaction that was rolled back may be reused by another
  // process: forget them all.
  void forget_fingerprints() { fingerprint_ids.clear(); }

  // The index file's inode when it was opened; a file now at the path with another
  // inode was rebuilt by another process.
  ino_t inode = 0;

  // Statements are declared after the connection so that they are finalized first.
  SqliteHandle db;
  Statement begin, commit, rollback;
  Statement find_fingerprint, add_fingerprint;
  Statement find_size, put_size, find_sizes_between;
  Statement find_output, put_output, touch_output, remove_output, least_used, total_output;

 private:
  std::map<std::string, int64_t> fingerprint_ids;
};

// Source identity as seven parameters from first on, or seven columns from first on.
void bind_identity(Statement::Use& use, int first, const SourceIdentity& id);
SourceIdentity column_identity(const Statement::Use& use, int first);
