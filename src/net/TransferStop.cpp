#include "net/TransferStop.h"

#include <algorithm>
#include <thread>
#include <utility>

namespace brenvik {
namespace {

std::function<bool()>& ThreadStopTest() {
    thread_local std::function<bool()> test;
    return test;
}

}  // namespace

StopScope::StopScope(std::function<bool()> stopAsked)
    : previous_(std::exchange(ThreadStopTest(), std::move(stopAsked))) {}

StopScope::~StopScope() {
    ThreadStopTest() = std::move(previous_);
}

bool StopAskedOnThisThread() {
    const auto& test = ThreadStopTest();
    return test && test();
}

bool SleepUnlessStopped(std::chrono::milliseconds time) {
    using Clock = std::chrono::steady_clock;
    constexpr auto kPoll = std::chrono::milliseconds(50);
    const auto end = Clock::now() + time;
    while (!StopAskedOnThisThread()) {
        const auto left = end - Clock::now();
        if (left <= Clock::duration::zero()) {
            return true;
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(kPoll, left));
    }
    return false;
}

}  // namespace brenvik
