// Stop requests that reach transfers already under way. A job installs its stop test on
// each thread that fetches for it; every exchange on that thread polls the test while it
// runs (at least once a second, even when no byte arrives) and ends soon after the user
// asks, instead of at the end of a page or image that may never end.
#pragma once

#include <chrono>
#include <functional>

namespace brenvik {

class StopScope {
  public:
    // The test must be cheap and safe to call from the thread that installs it.
    explicit StopScope(std::function<bool()> stopAsked);
    ~StopScope();
    StopScope(const StopScope&) = delete;
    StopScope& operator=(const StopScope&) = delete;

  private:
    std::function<bool()> previous_;
};

// True when the stop test installed on the calling thread says so; false without one.
bool StopAskedOnThisThread();

// Sleeps the time unless a stop is asked on the calling thread first (it is polled every
// 50 ms, so a stop ends even a long wait at once); false when a stop ended it.
bool SleepUnlessStopped(std::chrono::milliseconds time);

}  // namespace brenvik
