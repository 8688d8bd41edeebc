// Date-time numbers (every month counts 31 days, every year 12 months, so the
// number sorts chronologically without being a count of real seconds).
#include "scores/fields/date_time.h"

#include <cstdlib>

#include "engine/media/clock.h"
#include "engine/media/text.h"

namespace scores {

namespace {

const char* const kMonthNames[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                     "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

int64_t AbsInt(std::string_view text) {
    return std::llabs(static_cast<long long>(media::ToInt(text)));
}

std::string Digits(int64_t value, int width) {
    return media::Right(std::string(static_cast<size_t>(width), '0') + media::Str(value), width);
}

}  // namespace

int64_t DateTimeNumber(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute,
                       int64_t second) {
    return ((((year * 12 + month) * 31 + day) * 24 + hour) * 60 + minute) * 60 + second;
}

int64_t MakeDateTimeNumber(std::string_view dateText) {
    // Today's date and the time come from one reading of the clock.
    std::string date(dateText), time;
    if (dateText.empty()) {
        media::CurrentDateAndTime(date, time);
    } else {
        time = media::CurrentTime();
    }
    date = media::Upper(date);
    int64_t year = AbsInt(media::Mid(date, 8, 4));
    int64_t month = 0;
    std::string name = media::Mid(date, 4, 3);
    for (int i = 0; i < 12; ++i) {
        if (name == kMonthNames[i]) month = i + 1;
    }
    int64_t day = AbsInt(media::Mid(date, 1, 2));
    int64_t hour = AbsInt(media::Mid(time, 1, 2));
    int64_t minute = AbsInt(media::Mid(time, 4, 2));
    int64_t second = AbsInt(media::Mid(time, 7, 2));
    return DateTimeNumber(year, month, day, hour, minute, second);
}

DateTimeParts SplitDateTime(int64_t number) {
    DateTimeParts p;
    p.second = number % 60;
    p.minute = number / 60 % 60;
    p.hour = number / 3600 % 24;
    const int64_t days = number / 86400;
    p.day = (days - 1) % 31 + 1;
    const int64_t months = (days - 1) / 31;
    p.month = (months - 1) % 12 + 1;
    p.year = (months - 1) / 12;
    return p;
}

std::string TimeText(int64_t number) {
    const DateTimeParts p = SplitDateTime(number);
    return Digits(p.hour, 2) + ":" + Digits(p.minute, 2) + ":" + Digits(p.second, 2);
}

std::string DateText(int64_t number) {
    const DateTimeParts p = SplitDateTime(number);
    return Digits(p.day, 2) + "-" + Digits(p.month, 2) + "-" + Digits(p.year, 4);
}

int BitIsSet(int64_t value, int n) {
    if (n < 1 || n > 63) return 0;
    return ((value & (int64_t{1} << (n - 1))) >> (n - 1)) != 0 ? 1 : 0;
}

int64_t SetBit(int64_t value, int n, int v) {
    if (n < 1 || n > 32) return value & 0x3FFFFFFF;
    int64_t bit = int64_t{1} << (n - 1);
    return (value & (0x3FFFFFFF - bit)) + v * bit;
}

}  // namespace scores
