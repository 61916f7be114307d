// Structural checks of a database file, made through the engine's reading
// side (catalog, table definitions, usage maps, index walker, key encoder)
// and the raw pages, never through the creator's own code. Used on the files
// the creator writes until a full checker exists.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace createcheck {

struct IndexShape {
  std::string table;
  size_t real_index = 0;
  size_t levels = 0;  // 1: the root is a leaf
  size_t pages = 0;
  size_t entries = 0;
};

struct Report {
  std::vector<std::string> problems;  // empty when the file is sound
  std::vector<IndexShape> indexes;    // every real index of every table
  size_t pages = 0;
};

// Every table of the catalog: data pages and their free space, the owned and
// free-space maps, the row count and the autonumber counter; every real
// index: page headers and links level by level, node entries against their
// children's last entries, tails, the usage map, and one entry per live row
// whose key is the encoder's key for that row, in index order; the global
// map: no page in use marked free and every page past the end marked free;
// and every page of the file accounted for.
Report checkFile(const std::string& path);

}  // namespace createcheck
