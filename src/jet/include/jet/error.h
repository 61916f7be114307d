// The one exception type of the engine and the program: an error number, as
// operators know them from Access, and a description in Spanish. Every error
// raised is a row of one table (error.cpp): a name, its number and its text,
// with %1, %2, ... standing for the arguments the throw gives.
#pragma once

#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>

namespace jet {

// The errors, grouped by number. The text of each is in error.cpp.
enum class Msg {
  // 5, 6, 7, 13: the runtime's own errors and type clashes.
  kInvalidCall,            // 5
  kOverflow,               // 6
  kOutOfMemory,            // 7
  kTypeMismatch,           // 13
  kColumnTypeNotWritable,  // 13: %1 the type
  kRowNotIndexable,        // 13: %1 table, %2 why
  kInternal,               // 51
  kObjectRequired,         // 424
  // 3010-3078: files, tables, fields, SQL.
  kTableExists,       // 3010: %1 table
  kNoCurrentRecord,   // 3021
  kDuplicateKey,      // 3022: %1 table, %2 index
  kFileNotFound,      // 3024: %1 path
  kDiskFull,          // 3026: %1 path
  kWriteFailed,       // 3026: %1 path, %2 system error
  kFileTooLarge,      // 3026: %1 path
  kReadOnlyDatabase,  // 3027: %1 path
  kIndexPageFull,     // 3027: %1 path, %2 page
  kIndexNoFreePage,   // 3027: %1 path
  kSystemTable,       // 3027: %1 table
  kPasswordNeeded,    // 3031: %1 path
  kFileInUse,         // 3045: %1 path
  kRecordTooLarge,    // 3047
  kCannotOpen,        // 3051: %1 path
  kCannotWrite,       // 3051: %1 path
  kCannotExtend,      // 3051: %1 path
  kCannotCreateTemp,  // 3051: %1 path
  kFolderReadOnly,    // 3051: %1 folder
  kUnknownField,      // 3061: %1 name
  kSyntax,            // 3075: %1 query, %2 position, %3 what
  kUnknownTable,      // 3078: %1 name
  // 3163-3464: rows, relationships, damaged files, criteria.
  kFieldTooSmall,         // 3163: %1 column
  kRecordDeleted,         // 3167
  kChangedByOther,        // 3197: %1 path
  kRelatedRecords,        // 3200: %1 table
  kRelatedRecordNeeded,   // 3201: %1 table
  kItemNotFound,          // 3265
  kBadFormat,             // 3343: %1 path, %2 why
  kCannotCreateTable,     // 3343: %1 table, %2 why
  kRelationNoColumns,     // 3343: %1 relationship
  kRelationExists,        // 3343: %1 relationship
  kRelationTypes,         // 3343: %1 relationship
  kRelationNotUnique,     // 3343: %1 relationship, %2 table
  kBadJournal,            // 3343: %1 journal, %2 database, %3 why
  kCriteriaTypeMismatch,  // 3464: %1 what
};

// The number and the description of an error with its arguments put in.
int errorNumber(Msg msg);
std::string errorText(Msg msg, std::initializer_list<std::string_view> args);

class JetError : public std::runtime_error {
 public:
  template <class... Args>
  explicit JetError(Msg msg, const Args&... args)
      : JetError(errorNumber(msg), errorText(msg, {std::string_view(args)...})) {}
  // An error reported with a number and text of its own (the runtime passes
  // errors through this way).
  JetError(int number, const std::string& description)
      : std::runtime_error(description), number_(number) {}

  int number() const { return number_; }
  std::string description() const { return what(); }

 private:
  int number_;
};

// Error numbers callers test for.
namespace err {
inline constexpr int kInvalidCall = 5;
inline constexpr int kOverflow = 6;
inline constexpr int kOutOfMemory = 7;
inline constexpr int kTypeMismatch = 13;
inline constexpr int kInternal = 51;
inline constexpr int kObjectRequired = 424;
inline constexpr int kTableExists = 3010;
inline constexpr int kNoCurrentRecord = 3021;
inline constexpr int kDuplicateKey = 3022;
inline constexpr int kFileNotFound = 3024;
inline constexpr int kDiskFull = 3026;
inline constexpr int kReadOnly = 3027;
inline constexpr int kNotValidPassword = 3031;
inline constexpr int kFileInUse = 3045;
inline constexpr int kRecordTooLarge = 3047;
inline constexpr int kCannotOpen = 3051;
inline constexpr int kUnknownField = 3061;
inline constexpr int kSyntax = 3075;
inline constexpr int kUnknownTable = 3078;
inline constexpr int kFieldTooSmall = 3163;
inline constexpr int kRecordDeleted = 3167;
inline constexpr int kChangedByOther = 3197;
inline constexpr int kRelatedRecords = 3200;
inline constexpr int kRelatedRecordNeeded = 3201;
inline constexpr int kItemNotFound = 3265;
inline constexpr int kBadFormat = 3343;
inline constexpr int kCriteriaTypeMismatch = 3464;
}  // namespace err

// Shorthand for the most common error: "Formato de base de datos '<path>'
// no reconocido: <reason>."
[[noreturn]] void throwBadFormat(const std::string& path, const std::string& reason);

}  // namespace jet
