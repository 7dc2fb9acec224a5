// Reading and writing calendar texts; see CalendarText.h.
#include "server/CalendarText.h"

#include <cstdint>
#include <cstdio>

namespace qvr::server {

namespace {

bool IsLeapYear(int AYear) { return AYear % 4 == 0 && (AYear % 100 != 0 || AYear % 400 == 0); }

int DaysInMonth(int AYear, int AMonth) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return AMonth == 2 && IsLeapYear(AYear) ? 29 : kDays[AMonth - 1];
}

// Reads AText against APattern, character by character: Y, M, D, h, m and s
// stand for one ASCII digit of their part, '_' for a blank or a "T", anything
// else for itself. Lengths must match, so no part can be wider or narrower,
// signed or padded with blanks, as sscanf's "%4u" would allow.
std::optional<TCalendarTime> Read(std::string_view AText, std::string_view APattern) {
  if (AText.size() != APattern.size()) return std::nullopt;
  TCalendarTime time{0, 0, 0, 0, 0, 0};
  for (std::size_t i = 0; i < AText.size(); ++i) {
    const char c = AText[i];
    int* part = nullptr;
    switch (APattern[i]) {
      case 'Y':
        part = &time.Year;
        break;
      case 'M':
        part = &time.Month;
        break;
      case 'D':
        part = &time.Day;
        break;
      case 'h':
        part = &time.Hour;
        break;
      case 'm':
        part = &time.Minute;
        break;
      case 's':
        part = &time.Second;
        break;
      case '_':
        if (c != ' ' && c != 'T') return std::nullopt;
        continue;
      default:
        if (c != APattern[i]) return std::nullopt;
        continue;
    }
    if (c < '0' || c > '9') return std::nullopt;
    *part = *part * 10 + (c - '0');
  }
  if (time.Year < 1 || time.Month < 1 || time.Month > 12 || time.Day < 1 ||
      time.Day > DaysInMonth(time.Year, time.Month) || time.Hour > 23 || time.Minute > 59 ||
      time.Second > 59) {
    return std::nullopt;
  }
  return time;
}

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

}  // namespace

std::optional<TCalendarTime> ReadDate(std::string_view AText) { return Read(AText, "YYYY-MM-DD"); }

std::optional<TCalendarTime> ReadDateTime(std::string_view AText) {
  return Read(AText, "YYYY-MM-DD_hh:mm:ss");
}

std::string DateTimeText(const TCalendarTime& ATime) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", ATime.Year, ATime.Month,
                ATime.Day, ATime.Hour, ATime.Minute, ATime.Second);
  return text;
}

double DateSerial(const TCalendarTime& ATime) {
  return static_cast<double>(DaysFromCivil(ATime.Year, static_cast<unsigned>(ATime.Month),
                                           static_cast<unsigned>(ATime.Day)) -
                             DaysFromCivil(1899, 12, 30));
}

}  // namespace qvr::server
