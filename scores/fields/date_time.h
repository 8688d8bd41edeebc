// The date-time number of score records, its time and date texts, and the
// two bit helpers used for badge bits and flag words.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace scores {

// Makes the date-time number from a date text ("08 Dec 2026"; empty means
// today) and the current time: ((((Y*12+M)*31+D)*24+h)*60+m)*60+s.
int64_t MakeDateTimeNumber(std::string_view dateText = {});
// The parts a date-time number is made of.
struct DateTimeParts {
    int64_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// Makes the date-time number from its parts.
int64_t DateTimeNumber(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute,
                       int64_t second);
// Returns the parts of a date-time number (a day or month of 0 for a number before
// day 1 of month 1).
DateTimeParts SplitDateTime(int64_t number);
// Returns the time of day of a date-time number as "hh:mm:ss".
std::string TimeText(int64_t number);
// Returns the date of a date-time number as "dd-mm-yyyy".
std::string DateText(int64_t number);
// Returns 1 when bit n (from 1 for the lowest) of value is set, else 0.
int BitIsSet(int64_t value, int n);
// Returns value with bit n replaced by v; bits 31 and 32 are cleared too.
int64_t SetBit(int64_t value, int n, int v);

}  // namespace scores
