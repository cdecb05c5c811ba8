#include "net/TransferStop.h"

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

}  // namespace brenvik
