// Adapters registered by id, looked up by the jobs: one guarded map per kind of adapter.
#pragma once

#include <map>
#include <mutex>

namespace brenvik {

template <class Id, class Fn>
class AdapterRegistry {
  public:
    void Register(Id id, Fn fn) {
        std::lock_guard lock(mutex_);
        adapters_[id] = fn;
    }
    // nullptr when no adapter was registered for the id.
    Fn Find(Id id) const {
        std::lock_guard lock(mutex_);
        const auto found = adapters_.find(id);
        return found == adapters_.end() ? nullptr : found->second;
    }

    // Everything registered, to be put back later (tests keep their registrations to
    // themselves this way).
    std::map<Id, Fn> Snapshot() const {
        std::lock_guard lock(mutex_);
        return adapters_;
    }
    void Restore(std::map<Id, Fn> adapters) {
        std::lock_guard lock(mutex_);
        adapters_ = std::move(adapters);
    }

  private:
    mutable std::mutex mutex_;
    std::map<Id, Fn> adapters_;
};

}  // namespace brenvik
