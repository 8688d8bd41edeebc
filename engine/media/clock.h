// Time for the whole program: the millisecond clock, sleeping and the local
// date and time texts, all behind one clock seam so that tests can run on a
// virtual clock that they advance by hand (no test ever sleeps).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace media {

// The seam every time query goes through.
class Clock {
  public:
    virtual ~Clock() = default;
    // Returns milliseconds since the clock started.
    virtual int64_t NowMs() = 0;
    // Sleeps for about ms milliseconds (ms >= 0).
    virtual void SleepMs(int ms) = 0;
    // Gives the processor away once.
    virtual void Yield() = 0;
    // Returns the local date and time as broken-down fields.
    virtual void LocalTime(int& year, int& month, int& day, int& hour, int& minute,
                           int& second) = 0;
};

// A clock that tests drive: time moves only through Advance (and sleeps,
// which advance it by the time slept).
class VirtualClock : public Clock {
  public:
    int64_t NowMs() override { return now_; }
    void SleepMs(int ms) override { now_ += ms > 0 ? ms : 0; }
    void Yield() override { ++yields_; }
    void LocalTime(int& year, int& month, int& day, int& hour, int& minute, int& second) override;
    // Moves time forward by ms milliseconds.
    void Advance(int64_t ms) { now_ += ms; }
    // Sets the local date and time the clock reports.
    void SetLocalTime(int year, int month, int day, int hour, int minute, int second);
    int Yields() const { return yields_; }

  private:
    int64_t now_ = 0;
    int yields_ = 0;
    int date_[6] = {2026, 12, 8, 7, 35, 59};
};

// Installs the clock used by every time query; null restores the real clock.
// Returns the clock that was installed before.
std::shared_ptr<Clock> SetClock(std::shared_ptr<Clock> clock);
// Returns the clock in use.
Clock& CurrentClock();

// Returns milliseconds since program start, as a 32-bit number.
int Millisecs();
// Returns the milliseconds from one Millisecs() reading to a later one; right
// across the 32-bit wrap (after about 24.8 days) for spans below that.
int MillisecsBetween(int earlier, int later);
// Sleeps until at least ms milliseconds have passed; negative returns at once;
// when no sleep was needed it still yields the processor once.
void Delay(int ms);
// Returns the local date as "%d %b %Y" (for example "08 Dec 2026").
std::string CurrentDate();
// Returns the local time as "%H:%M:%S".
std::string CurrentTime();
// Returns the local date and time texts, as above, from one reading of the
// clock (so a moment just before midnight never pairs with the next day).
void CurrentDateAndTime(std::string& date, std::string& time);

}  // namespace media
