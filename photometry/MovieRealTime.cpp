#include "photometry/MovieRealTime.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "media/TimeCode.h"
#include "platform/coreservices/CNumericLocale.h"

namespace {

// Decimal digits of text[from, from + length) as far as they go; a '.' is
// taken with its digits when `withFraction`. 0 when the field does not start
// with a digit or lies past the end of the text.
double readField(const char* text, size_t textLength, size_t from, size_t length, bool withFraction) {
  if (from >= textLength) return 0.0;
  const size_t end = from + length < textLength ? from + length : textLength;
  double value = 0.0;
  size_t i = from;
  if (text[i] < '0' || text[i] > '9') return 0.0;
  for (; i < end && text[i] >= '0' && text[i] <= '9'; ++i) value = value * 10.0 + (text[i] - '0');
  if (withFraction && i < end && text[i] == '.') {
    double scale = 0.1;
    for (++i; i < end && text[i] >= '0' && text[i] <= '9'; ++i, scale *= 0.1) value += (text[i] - '0') * scale;
  }
  return value;
}

}  // namespace

double myRealTimeFromStartStamp(const char* stamp) {
  if (stamp == nullptr) return 0.0;
  char text[256];
  const size_t n = strnlen(stamp, sizeof text - 1);
  std::memcpy(text, stamp, n);
  text[n] = 0;
  if (std::strstr(text, "STARTED") == nullptr || std::strstr(text, "UTC") == nullptr) return 0.0;
  // The stamp's "%2d" fields are blank-padded.
  for (size_t i = 0; i < n; ++i)
    if (text[i] == ' ') text[i] = '0';

  LongDateRec date{};
  date.year = short(readField(text, n, 7, 4, false));
  date.month = short(readField(text, n, 11, 2, false));
  date.day = short(readField(text, n, 13, 2, false));
  date.hour = short(readField(text, n, 16, 2, false));
  date.minute = short(readField(text, n, 18, 2, false));
  const double seconds = n >= 28 ? readField(text, n, 20, 5, true) : readField(text, n, 20, 2, false);
  // Five digits with no point overflow the record's seconds: unreadable.
  if (seconds >= 32768.0) return 0.0;
  date.second = short(seconds);
  double fraction = seconds - std::trunc(seconds);
  if (fraction < 0.0) fraction = 0.0;
  LongDateTime whole = 0;
  LongDateToSeconds(&date, &whole);
  const double t = double(whole) + fraction;
  return t > 0.0 ? t : 0.0;
}

double myExtractRealTimeFromMovieTimeCodeData(Movie movie) {
  if (movie == nullptr) return 0.0;
  TimeCodeDef def{};
  TimeCodeRecord record{};
  char text[255] = {};
  if (myExtractTimeCodeData(movie, &def, &record, text) != noErr) return 0.0;
  text[254] = 0;
  return myRealTimeFromStartStamp(text);
}

double myCalculateJDNFromUTC(double fraction, const LongDateRec* date) {
  if (date == nullptr) return 0.0;
  double D = double(date->day);
  D += double(date->hour) * 0.041666666666666664;
  D += double(date->minute) * 0.0006944444444444445;
  D += (double(date->second) + fraction) * 1.1574074074074073e-05;
  double Y = date->year, M = date->month;
  if (date->month <= 2) {
    Y -= 1.0;
    M += 12.0;
  }
  const double A = std::trunc(Y / 100.0);
  const double B = 2.0 - A + std::trunc(A / 4.0);
  return B + (D + (std::trunc(365.25 * (Y + 4716.0)) + std::trunc(30.6 * (M + 1.0)))) - 1524.5;
}

void myMakeTableTimeStamp(double t, int dateMode, char stamp[kTableTimeStampSize]) {
  SkyloomCLocaleScope cLocale;
  if (dateMode != 1) {
    std::snprintf(stamp, kTableTimeStampSize, "%8.2f", double(float(t)));
    return;
  }
  // Out-of-range times (not a number, or beyond any calendar) print as 0.
  if (!std::isfinite(t) || std::fabs(t) > 1e15) t = 0.0;
  // At 1904-epoch magnitudes a double sits up to half a microsecond off the
  // hundredth it was made from: round the fraction to the microsecond before
  // truncating to hundredths.
  LongDateTime whole = LongDateTime(std::floor(t));
  long long micro = std::llround((t - double(whole)) * 1e6);
  if (micro >= 1000000) {
    whole += 1;
    micro -= 1000000;
  }
  if (micro < 0) micro = 0;
  const int hundredths = int(micro / 10000);
  LongDateRec date{};
  LongSecondsToDate(&whole, &date);
  const double jd = myCalculateJDNFromUTC(hundredths * 0.01, &date);
  std::snprintf(stamp, kTableTimeStampSize, "%4d%2d%2d\t%2d:%2d:%2d.%2d\t%.8f", date.year, date.month, date.day,
                date.hour, date.minute, date.second, hundredths, jd);
  for (char* c = stamp; *c; ++c)
    if (*c == ' ') *c = '0';
}
