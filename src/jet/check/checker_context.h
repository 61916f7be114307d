// What the parts of the file checker share: the report they add to, the
// global page map, every page's type and owner, and the pages each
// structure is found to use.
//
// The checker goes through every page of a file that may be far larger than
// memory, so it keeps per-page summaries only (a few bytes a page) and lets
// the page source forget the pages it has read (settle) wherever it holds
// no view of a page.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "format/data_page.h"
#include "format/long_value.h"
#include "format/usage_map.h"
#include "jet/checker.h"
#include "jet/database.h"

namespace jet::check {

// "3:12" for page 3, row 12.
std::string rowText(RowId id);
// A value in a message: numbers as numbers, text quoted.
std::string valueText(const Value& v);

class Context {
 public:
  Context(const Database& db, CheckReport& report);

  const Database& db;
  const PageSource& src;
  const Format& fmt;
  CheckReport& report;

  void problem(const std::string& where, uint32_t page, const std::string& message);
  void note(const std::string& where, uint32_t page, const std::string& message);

  // Records that `what` uses the page (the first user is kept for messages).
  void use(uint32_t page, const std::string& what);
  // The first user of the page, or null.
  const std::string* usedBy(uint32_t page) const;

  // From the global page map: whether the page is marked free, and whether
  // the map names it at all. A page the map cannot name (outside its
  // window) is not known to be free, nor known to be in use.
  enum class MapState : uint8_t { InUse, Free, Unnamed };
  bool markedFree(uint32_t page) const { return mapState(page) == MapState::Free; }
  bool unnamed(uint32_t page) const { return mapState(page) == MapState::Unnamed; }
  void setMapStates(std::vector<MapState> states) { map_states_ = std::move(states); }

  // Lets the page source forget the pages read so far once they pass a
  // budget. Only where the caller holds no view of a page.
  void settle() const;

  // The data pages (type 0x01) of the file whose owner field names `tdef`.
  const std::vector<uint32_t>& dataPagesOwnedBy(uint32_t tdef) const;
  void addDataPage(uint32_t page, uint32_t owner) { by_owner_[owner].push_back(page); }

 private:
  std::vector<uint32_t> used_by_;  // by page: 1 + index in users_, 0 when unused
  std::vector<std::string> users_;
  std::unordered_map<std::string, uint32_t> user_index_;
  std::unordered_map<std::string, size_t> per_where_;
  MapState mapState(uint32_t page) const {
    return page < map_states_.size() ? map_states_[page] : MapState::Unnamed;
  }
  std::vector<MapState> map_states_;  // by page
  std::unordered_map<uint32_t, std::vector<uint32_t>> by_owner_;
};

// The tables of the catalog: data pages, slots, row count, usage maps, long
// values and autonumber. Fills `live` with the table's live rows, ascending.
void checkTable(Context& ctx, const Table& table, bool system, std::vector<RowId>& live);

// Every real index of the table against its live rows (ascending).
void checkIndexes(Context& ctx, const Table& table, const std::vector<RowId>& live);

// How many pages read from the file the checker lets the page source hold
// before it settles.
inline constexpr size_t kCheckerPageBudget = 256;

// The layout of one data page: free-space count and row bounds.
void checkDataPageLayout(Context& ctx, uint32_t page, const std::string& where);

}  // namespace jet::check
