// The engine's one exception type: an error number, as operators know them
// from Access, and a description in Spanish.
#pragma once

#include <stdexcept>
#include <string>

namespace jet {

class JetError : public std::runtime_error {
 public:
  JetError(int number, const std::string& description)
      : std::runtime_error(description), number_(number) {}

  int number() const { return number_; }
  std::string description() const { return what(); }

 private:
  int number_;
};

// Error numbers used by the engine.
namespace err {
inline constexpr int kTypeMismatch = 13;
inline constexpr int kNoCurrentRecord = 3021;
inline constexpr int kFileNotFound = 3024;
inline constexpr int kReadOnly = 3027;
inline constexpr int kFileInUse = 3045;
inline constexpr int kCannotOpen = 3051;
inline constexpr int kUnknownField = 3061;
inline constexpr int kSyntax = 3075;
inline constexpr int kUnknownTable = 3078;
inline constexpr int kRecordDeleted = 3167;
inline constexpr int kChangedByOther = 3197;
inline constexpr int kItemNotFound = 3265;
inline constexpr int kRelatedRecords = 3200;
inline constexpr int kBadFormat = 3343;
inline constexpr int kCriteriaTypeMismatch = 3464;
}  // namespace err

// "Formato de base de datos '<path>' no reconocido: <reason>."
[[noreturn]] void throwBadFormat(const std::string& path, const std::string& reason);
[[noreturn]] void throwFileNotFound(const std::string& path);
[[noreturn]] void throwCannotOpen(const std::string& path);
[[noreturn]] void throwUnknownTable(const std::string& name);
[[noreturn]] void throwUnknownField(const std::string& name);

}  // namespace jet
