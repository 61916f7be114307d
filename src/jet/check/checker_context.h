// What the parts of the file checker share: the report they add to, the
// global page map, every page's type and owner, and the pages each
// structure is found to use.
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
  const std::unordered_map<uint32_t, std::string>& used() const { return used_; }

  // From the global page map: whether the page is marked free (pages the map
  // does not cover count as free).
  bool markedFree(uint32_t page) const { return page >= free_.size() || free_[page]; }
  void setFreeMap(std::vector<bool> free) { free_ = std::move(free); }

  // The data pages (type 0x01) of the file whose owner field names `tdef`.
  const std::vector<uint32_t>& dataPagesOwnedBy(uint32_t tdef) const;
  void addDataPage(uint32_t page, uint32_t owner) { by_owner_[owner].push_back(page); }

 private:
  std::unordered_map<uint32_t, std::string> used_;
  std::unordered_map<std::string, size_t> per_where_;
  std::vector<bool> free_;
  std::unordered_map<uint32_t, std::vector<uint32_t>> by_owner_;
};

// The tables of the catalog: data pages, slots, row count, usage maps, long
// values and autonumber. Fills `live` with the table's live rows, ascending.
void checkTable(Context& ctx, const Table& table, bool system, std::vector<RowId>& live);

// Every real index of the table against its live rows (ascending).
void checkIndexes(Context& ctx, const Table& table, const std::vector<RowId>& live);

// The layout of one data page: free-space count and row bounds.
void checkDataPageLayout(Context& ctx, uint32_t page, const std::string& where);

}  // namespace jet::check
