#include "jet/value.h"

#include <cmath>

namespace jet {

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date, and back (H. Hinnant's
// civil-from-days algorithms).
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yy + (m <= 2));
}

const int64_t kEpochOffset = daysFromCivil(1899, 12, 30);  // 1899-12-30 in Unix days

}  // namespace

DateTimeParts splitDateTime(double days) {
  DateTimeParts p;
  if (!std::isfinite(days) || std::fabs(days) > 1e8) days = 0;  // beyond any calendar Access shows
  double whole = std::trunc(days);
  int64_t secs = std::llround(std::fabs(days - whole) * 86400.0);
  int64_t total = static_cast<int64_t>(whole) * 86400 + secs;
  int64_t day = total >= 0 ? total / 86400 : -((-total + 86399) / 86400);
  int64_t sod = total - day * 86400;
  civilFromDays(day + kEpochOffset, p.year, p.month, p.day);
  p.hour = static_cast<int>(sod / 3600);
  p.minute = static_cast<int>(sod / 60 % 60);
  p.second = static_cast<int>(sod % 60);
  return p;
}

double joinDateTime(const DateTimeParts& p) {
  int64_t day =
      daysFromCivil(p.year, static_cast<unsigned>(p.month), static_cast<unsigned>(p.day)) -
      kEpochOffset;
  double frac = (p.hour * 3600 + p.minute * 60 + p.second) / 86400.0;
  return day >= 0 ? static_cast<double>(day) + frac : static_cast<double>(day) - frac;
}

}  // namespace jet
