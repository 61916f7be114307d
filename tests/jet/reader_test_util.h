// Helpers shared by the reader's tests: readable values in failure messages,
// building byte views from literals, and patching copies of fixtures.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <ostream>
#include <string>
#include <typeinfo>
#include <vector>

#include "format/bytes.h"
#include "format/catalog.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/value.h"
#include "support/shared_fixtures.h"

namespace jet {

// How GoogleTest shows a Value when an expectation fails.
inline void PrintTo(const Value& v, std::ostream* os) {
  using K = Value::Kind;
  switch (v.kind()) {
    case K::Null:
      *os << "Null";
      return;
    case K::Bool:
      *os << "Bool(" << (v.asBool() ? "true" : "false") << ")";
      return;
    case K::Int:
      *os << "Int(" << v.asInt() << ")";
      return;
    case K::Currency:
      *os << "Currency(" << v.asInt() << "/10000)";
      return;
    case K::Single:
      *os << "Single(" << v.asDouble() << ")";
      return;
    case K::Double:
      *os << "Double(" << v.asDouble() << ")";
      return;
    case K::DateTime:
      *os << "DateTime(" << v.asDouble() << ")";
      return;
    case K::Decimal:
      *os << "Decimal(" << v.asString() << ")";
      return;
    case K::Text:
      *os << "Text(\"" << v.asString() << "\")";
      return;
    case K::Bytes:
      *os << "Bytes(" << v.asString().size() << " bytes)";
      return;
    case K::Guid:
      *os << "Guid";
      return;
  }
}

}  // namespace jet

namespace readertest {

namespace fs = std::filesystem;

inline fs::path scratchDir() {
  return testsupport::scratchDir();
}

// A byte view over a literal list of bytes; the vector must outlive the view.
inline jet::ByteView view(const std::vector<uint8_t>& b) {
  return jet::ByteView(b.data(), b.size());
}

// "YYYY-MM-DD HH:MM:SS" of a date/time split by the engine.
inline std::string dateText(const jet::DateTimeParts& p) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour,
                p.minute, p.second);
  return buf;
}
inline std::string dateText(const jet::Value& v) {
  if (v.kind() != jet::Value::Kind::DateTime) return "(not a date)";
  return dateText(jet::splitDateTime(v.asDouble()));
}

// 64-bit FNV-1a: long values are compared with hashes of what mdb-export prints.
inline uint64_t fnv1a(const std::string& s) {
  uint64_t h = 0xcbf29ce484222325ULL;
  for (unsigned char c : s) {
    h ^= c;
    h *= 0x100000001b3ULL;
  }
  return h;
}

inline std::vector<uint8_t> readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::vector<uint8_t> out(static_cast<size_t>(fs::file_size(p)));
  in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()));
  return out;
}

inline void writeFile(const fs::path& p, const std::vector<uint8_t>& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

// Overwrites bytes of a file in place.
inline void patchFile(const fs::path& p, size_t offset, const std::vector<uint8_t>& bytes) {
  ASSERT_LE(offset + bytes.size(), fs::file_size(p)) << p;
  std::fstream f(p, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(static_cast<std::streamoff>(offset));
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(f.good()) << p;
}

inline void patchU32(const fs::path& p, size_t offset, uint32_t v) {
  patchFile(p, offset,
            {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
             static_cast<uint8_t>(v >> 24)});
}

// Opens the database, lists its tables and reads every row of every table
// (the catalog included), each table's properties and the relationships.
// Returns the number of rows read; any exception escapes to the caller.
inline size_t readEverything(const std::string& path) {
  jet::Database db(path);
  size_t rows = 0;
  auto readTable = [&](const jet::Table& t) {
    for (jet::RowId id : t.rowIds()) {
      t.readRow(id);
      ++rows;
    }
  };
  for (const std::string& name : db.tableNames()) {
    readTable(db.table(name));
    db.properties(name);
  }
  db.relationships();
  // The catalog by its page: a damaged catalog may have lost its own name.
  readTable(jet::Table(db, db.tableDefAt(jet::kCatalogTdefPage, "MSysObjects")));
  return rows;
}

// What happened when a damaged file was read: read fine, a JetError (with
// its number and text), or something that must never happen.
struct Outcome {
  enum Kind { Ok, Jet, Other } kind = Ok;
  int number = 0;
  std::string message;
};

inline Outcome tryReadEverything(const std::string& path) {
  Outcome o;
  try {
    readEverything(path);
  } catch (const jet::JetError& e) {
    o.kind = Outcome::Jet;
    o.number = e.number();
    o.message = e.what();
  } catch (const std::exception& e) {
    o.kind = Outcome::Other;
    o.message = std::string("exception escaped: ") + typeid(e).name() + ": " + e.what();
  } catch (...) {
    o.kind = Outcome::Other;
    o.message = "unknown exception escaped";
  }
  return o;
}

}  // namespace readertest
