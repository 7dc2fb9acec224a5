// Dates and times as the server reads them from clients and keeps them in
// its database: "YYYY-MM-DD" and "YYYY-MM-DD HH:MM:SS" (a "T" may stand for
// the blank), ASCII digits in fixed widths, a day that exists in the
// proleptic Gregorian calendar (years 0001 to 9999, leap years counted) and a
// time of day from 00:00:00 to 23:59:59. One reader serves employees'
// FechaAlta and uploads' FechaHora, so both refuse the same texts.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qvr::server {

struct TCalendarTime {
  int Year = 1;
  int Month = 1;
  int Day = 1;
  int Hour = 0;
  int Minute = 0;
  int Second = 0;
};

// The day AText names in the form "YYYY-MM-DD"; nothing for any other text,
// including a day the calendar lacks ("2023-02-29").
std::optional<TCalendarTime> ReadDate(std::string_view AText);
// The moment AText names in the form "YYYY-MM-DD HH:MM:SS" or
// "YYYY-MM-DDTHH:MM:SS"; nothing for any other text.
std::optional<TCalendarTime> ReadDateTime(std::string_view AText);

// "YYYY-MM-DD HH:MM:SS", the form the attendance table keeps.
std::string DateTimeText(const TCalendarTime& ATime);
// The day as a TDateTime: days since 1899-12-30, the time of day left out.
double DateSerial(const TCalendarTime& ATime);

}  // namespace qvr::server
