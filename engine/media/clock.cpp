// The real and virtual clocks and the time queries built on them.
#include "engine/media/clock.h"

#include <sched.h>
#include <time.h>

#include <cstdio>

namespace media {

namespace {

const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

class RealClock : public Clock {
  public:
    RealClock() : start_(Monotonic()) {}
    int64_t NowMs() override { return (Monotonic() - start_) / 1000000; }
    void SleepMs(int ms) override {
        if (ms <= 0) return;
        timespec ts{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
        while (nanosleep(&ts, &ts) != 0) {
        }
    }
    void Yield() override { sched_yield(); }
    void LocalTime(int& year, int& month, int& day, int& hour, int& minute, int& second) override {
        time_t t = time(nullptr);
        tm parts{};
        localtime_r(&t, &parts);
        year = parts.tm_year + 1900;
        month = parts.tm_mon + 1;
        day = parts.tm_mday;
        hour = parts.tm_hour;
        minute = parts.tm_min;
        second = parts.tm_sec;
    }

  private:
    static int64_t Monotonic() {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
    }
    int64_t start_;
};

std::shared_ptr<Clock>& ClockSlot() {
    static std::shared_ptr<Clock> clock = std::make_shared<RealClock>();
    return clock;
}

}  // namespace

void VirtualClock::LocalTime(int& year, int& month, int& day, int& hour, int& minute, int& second) {
    year = date_[0];
    month = date_[1];
    day = date_[2];
    hour = date_[3];
    minute = date_[4];
    second = date_[5];
}

void VirtualClock::SetLocalTime(int year, int month, int day, int hour, int minute, int second) {
    date_[0] = year;
    date_[1] = month;
    date_[2] = day;
    date_[3] = hour;
    date_[4] = minute;
    date_[5] = second;
}

std::shared_ptr<Clock> SetClock(std::shared_ptr<Clock> clock) {
    std::shared_ptr<Clock> old = ClockSlot();
    ClockSlot() = clock ? std::move(clock) : std::make_shared<RealClock>();
    return old;
}

Clock& CurrentClock() {
    return *ClockSlot();
}

int Millisecs() {
    return static_cast<int>(static_cast<uint32_t>(CurrentClock().NowMs()));
}

int MillisecsBetween(int earlier, int later) {
    return static_cast<int>(static_cast<uint32_t>(later) - static_cast<uint32_t>(earlier));
}

void Delay(int ms) {
    if (ms < 0) return;
    Clock& clock = CurrentClock();
    int64_t until = clock.NowMs() + ms;
    bool slept = false;
    for (int64_t now = clock.NowMs(); now < until; now = clock.NowMs()) {
        clock.SleepMs(static_cast<int>(until - now));
        slept = true;
    }
    if (!slept) clock.Yield();
}

std::string CurrentDate() {
    std::string date, time;
    CurrentDateAndTime(date, time);
    return date;
}

std::string CurrentTime() {
    std::string date, time;
    CurrentDateAndTime(date, time);
    return time;
}

void CurrentDateAndTime(std::string& date, std::string& time) {
    int y, mo, d, h, mi, s;
    CurrentClock().LocalTime(y, mo, d, h, mi, s);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02d %s %04d", d, kMonths[(mo + 11) % 12], y);
    date = buf;
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", h, mi, s);
    time = buf;
}

}  // namespace media
