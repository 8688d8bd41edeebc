// The virtual clock for tests: put in place for the life of the object (a
// fixture's member), the clock that was there before put back after.
#pragma once

#include <memory>

#include "engine/media/clock.h"

namespace zqtest {

// Installs a new clock of type C (a media::VirtualClock by default).
template <class C = media::VirtualClock>
class VirtualClockInPlace {
  public:
    // Makes the clock and installs it.
    VirtualClockInPlace() : clock_(std::make_shared<C>()), previous_(media::SetClock(clock_)) {}
    // Puts the previous clock back.
    ~VirtualClockInPlace() { media::SetClock(previous_); }
    VirtualClockInPlace(const VirtualClockInPlace&) = delete;
    VirtualClockInPlace& operator=(const VirtualClockInPlace&) = delete;

    // Returns the installed clock.
    C* operator->() const { return clock_.get(); }
    // Returns the installed clock, shared.
    const std::shared_ptr<C>& get() const { return clock_; }

  private:
    std::shared_ptr<C> clock_;
    std::shared_ptr<media::Clock> previous_;
};

}  // namespace zqtest
