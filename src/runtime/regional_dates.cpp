#include "runtime/regional_dates.h"

#include <array>
#include <cstdio>
#include <vector>

namespace regional {

namespace {

enum class Kind { Number, Word, Separator, Colon, Blank };

struct Token {
  Kind kind;
  std::string text;  // digits, a folded lowercase word, or the separator
};

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}
bool isDigit(char c) {
  return c >= '0' && c <= '9';
}
bool isAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The base letter of an accented Spanish letter written in UTF-8 (0xC3 and
// the byte after it); 0 when the pair is none of them. Ñ and ñ fold to
// themselves as '~', a letter no month name holds.
char foldAccent(unsigned char second) {
  switch (second) {
    case 0xA1:
    case 0x81:
      return 'a';  // á Á
    case 0xA9:
    case 0x89:
      return 'e';  // é É
    case 0xAD:
    case 0x8D:
      return 'i';  // í Í
    case 0xB3:
    case 0x93:
      return 'o';  // ó Ó
    case 0xBA:
    case 0x9A:
    case 0xBC:
    case 0x9C:
      return 'u';  // ú Ú ü Ü
    case 0xB1:
    case 0x91:
      return '~';  // ñ Ñ
    default:
      return 0;
  }
}

// Splits the text into numbers, words, separators, colons and blank runs;
// nullopt on any other character.
std::optional<std::vector<Token>> tokenize(std::string_view s) {
  std::vector<Token> out;
  size_t i = 0;
  while (i < s.size()) {
    char c = s[i];
    if (isBlank(c)) {
      while (i < s.size() && isBlank(s[i])) ++i;
      out.push_back({Kind::Blank, " "});
    } else if (isDigit(c)) {
      size_t start = i;
      while (i < s.size() && isDigit(s[i])) ++i;
      out.push_back({Kind::Number, std::string(s.substr(start, i - start))});
    } else if (c == '/' || c == '-' || c == '.') {
      out.push_back({Kind::Separator, std::string(1, c)});
      ++i;
    } else if (c == ':') {
      out.push_back({Kind::Colon, ":"});
      ++i;
    } else {
      std::string word;
      while (i < s.size()) {
        char w = s[i];
        if (isAsciiLetter(w)) {
          word += static_cast<char>(w | 0x20);
          ++i;
        } else if (static_cast<unsigned char>(w) == 0xC3 && i + 1 < s.size() &&
                   foldAccent(static_cast<unsigned char>(s[i + 1])) != 0) {
          word += foldAccent(static_cast<unsigned char>(s[i + 1]));
          i += 2;
        } else {
          break;
        }
      }
      if (word.empty()) return std::nullopt;
      out.push_back({Kind::Word, std::move(word)});
    }
  }
  return out;
}

// 1 to 12 for a month's name or abbreviation (already folded), else 0.
int monthFromWord(const std::string& w) {
  static const std::array<const char*, 12> names = {
      "enero", "febrero", "marzo",      "abril",   "mayo",      "junio",
      "julio", "agosto",  "septiembre", "octubre", "noviembre", "diciembre"};
  for (size_t m = 0; m < names.size(); ++m) {
    std::string_view name = names[m];
    if (w == name || w == name.substr(0, 3)) return static_cast<int>(m) + 1;
  }
  if (w == "set") return 9;
  return 0;
}

int toInt(const std::string& digits) {
  int v = 0;
  for (char c : digits) v = v * 10 + (c - '0');
  return v;
}

// A day or month written with one or two digits.
std::optional<int> dayOrMonth(const Token& t) {
  if (t.kind != Kind::Number || t.text.size() > 2) return std::nullopt;
  return toInt(t.text);
}

// A year with two digits (pivot at 30) or four.
std::optional<int> year(const Token& t) {
  if (t.kind != Kind::Number) return std::nullopt;
  if (t.text.size() == 2) {
    int yy = toInt(t.text);
    return yy < 30 ? 2000 + yy : 1900 + yy;
  }
  if (t.text.size() == 4) return toInt(t.text);
  return std::nullopt;
}

struct Ymd {
  int year, month, day;
};

std::optional<Ymd> valid(int y, int m, int d) {
  if (!isValidDate(y, m, d)) return std::nullopt;
  return Ymd{y, m, d};
}

// Day and month in the regional order, or else swapped when only the
// month-day reading names a day.
std::optional<Ymd> dayFirstOrSwapped(int y, int first, int second) {
  if (auto r = valid(y, second, first)) return r;
  return valid(y, first, second);
}

// The date named by two or three fields (numbers or one month name).
std::optional<Ymd> interpretDate(const std::vector<Token>& f, int current_year) {
  int word_at = -1;
  for (size_t i = 0; i < f.size(); ++i) {
    if (f[i].kind != Kind::Word) continue;
    if (word_at >= 0) return std::nullopt;
    word_at = static_cast<int>(i);
  }
  if (word_at >= 0) {
    int month = monthFromWord(f[word_at].text);
    if (month == 0 || word_at > 1) return std::nullopt;
    auto day = dayOrMonth(f[word_at == 0 ? 1 : 0]);
    if (!day) return std::nullopt;
    std::optional<int> y = current_year;
    if (f.size() == 3) y = year(f[2]);
    if (!y) return std::nullopt;
    return valid(*y, month, *day);
  }
  if (f.size() == 3 && f[0].text.size() == 4) {
    auto y = year(f[0]);
    auto m = dayOrMonth(f[1]);
    auto d = dayOrMonth(f[2]);
    if (!y || !m || !d) return std::nullopt;
    return valid(*y, *m, *d);
  }
  auto a = dayOrMonth(f[0]);
  auto b = dayOrMonth(f[1]);
  std::optional<int> y = current_year;
  if (f.size() == 3) y = year(f[2]);
  if (!a || !b || !y) return std::nullopt;
  return dayFirstOrSwapped(*y, *a, *b);
}

// Hours 0-23 with one or two digits, minutes and seconds with two.
bool readTime(const std::vector<Token>& t, size_t from, jet::DateTimeParts& out) {
  size_t n = t.size() - from;
  if (n != 3 && n != 5) return false;
  for (size_t i = 0; i < n; ++i) {
    Kind want = i % 2 == 0 ? Kind::Number : Kind::Colon;
    if (t[from + i].kind != want) return false;
  }
  const std::string& h = t[from].text;
  const std::string& m = t[from + 2].text;
  if (h.size() > 2 || m.size() != 2) return false;
  int hour = toInt(h), minute = toInt(m), second = 0;
  if (n == 5) {
    if (t[from + 4].text.size() != 2) return false;
    second = toInt(t[from + 4].text);
  }
  if (hour > 23 || minute > 59 || second > 59) return false;
  out.hour = hour;
  out.minute = minute;
  out.second = second;
  return true;
}

// Date fields separated by one separator and/or blanks; nullopt otherwise.
std::optional<std::vector<Token>> dateFields(const std::vector<Token>& t, size_t end) {
  std::vector<Token> fields;
  size_t i = 0;
  while (i < end) {
    if (t[i].kind != Kind::Number && t[i].kind != Kind::Word) return std::nullopt;
    fields.push_back(t[i++]);
    if (i == end) break;
    bool gap = false;
    int separators = 0;
    while (i < end && (t[i].kind == Kind::Blank || t[i].kind == Kind::Separator)) {
      separators += t[i].kind == Kind::Separator;
      gap = true;
      ++i;
    }
    if (!gap || separators > 1 || i == end) return std::nullopt;
  }
  if (fields.size() < 2 || fields.size() > 3) return std::nullopt;
  return fields;
}

std::string twoDigits(int v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d", v);
  return buf;
}

}  // namespace

bool isValidDate(int year, int month, int day) {
  static const std::array<int, 12> days = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < kMinYear || year > kMaxYear || month < 1 || month > 12 || day < 1) return false;
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  int last = days[month - 1] + (month == 2 && leap ? 1 : 0);
  return day <= last;
}

std::optional<jet::DateTimeParts> parseDate(std::string_view text, int current_year) {
  auto tokens = tokenize(text);
  if (!tokens) return std::nullopt;
  std::vector<Token>& t = *tokens;
  if (!t.empty() && t.front().kind == Kind::Blank) t.erase(t.begin());
  if (!t.empty() && t.back().kind == Kind::Blank) t.pop_back();
  if (t.empty()) return std::nullopt;

  // A time, if any, is the last blank-separated part of the text.
  size_t date_end = t.size();
  jet::DateTimeParts result;  // the zero day at midnight
  bool has_colon = false;
  for (const Token& tok : t) has_colon = has_colon || tok.kind == Kind::Colon;
  if (has_colon) {
    size_t time_start = t.size();
    while (time_start > 0 && t[time_start - 1].kind != Kind::Blank) --time_start;
    if (!readTime(t, time_start, result)) return std::nullopt;
    if (time_start == 0) return result;  // a time alone
    date_end = time_start - 1;
  }

  auto fields = dateFields(t, date_end);
  if (!fields) return std::nullopt;
  auto ymd = interpretDate(*fields, current_year);
  if (!ymd) return std::nullopt;
  result.year = ymd->year;
  result.month = ymd->month;
  result.day = ymd->day;
  return result;
}

std::string generalForm(const jet::DateTimeParts& d) {
  bool has_time = d.hour != 0 || d.minute != 0 || d.second != 0;
  bool zero_day = d.year == 1899 && d.month == 12 && d.day == 30;
  std::string time = std::to_string(d.hour) + ":" + twoDigits(d.minute) + ":" + twoDigits(d.second);
  if (has_time && zero_day) return time;
  std::string date = *formatDate(d, "dd/mm/yyyy");
  return has_time ? date + " " + time : date;
}

std::optional<std::string> formatDate(const jet::DateTimeParts& d, std::string_view pattern) {
  std::string out;
  size_t i = 0;
  while (i < pattern.size()) {
    char c = pattern[i];
    size_t run = 1;
    while (i + run < pattern.size() && pattern[i + run] == c) ++run;
    if (c == 'd' && run <= 2) {
      out += run == 2 ? twoDigits(d.day) : std::to_string(d.day);
    } else if (c == 'm' && run <= 2) {
      out += run == 2 ? twoDigits(d.month) : std::to_string(d.month);
    } else if (c == 'y' && run == 4) {
      char buf[16];
      std::snprintf(buf, sizeof buf, "%04d", d.year);
      out += buf;
    } else if (c == 'y' && run == 2) {
      out += twoDigits(d.year % 100);
    } else if (c == '-' || c == '/' || c == '.' || c == ' ') {
      out.append(run, c);
    } else {
      return std::nullopt;
    }
    i += run;
  }
  return out;
}

}  // namespace regional
