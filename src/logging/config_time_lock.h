#pragma once
// The broken mark shared by the two process-wide log locks: a holder that leaves its
// critical section through an exception marks the lock, and later users take the
// fallback their owner defines instead of trusting what the holder left behind.

#include <atomic>
#include <exception>

namespace logging {

class BrokenMarkOnUnwind {
  public:
    explicit BrokenMarkOnUnwind(std::atomic<bool>& broken)
        : broken_(broken), exceptions_(std::uncaught_exceptions()) {}
    ~BrokenMarkOnUnwind() {
        if (std::uncaught_exceptions() > exceptions_) {
            broken_.store(true);
        }
    }
    BrokenMarkOnUnwind(const BrokenMarkOnUnwind&) = delete;
    BrokenMarkOnUnwind& operator=(const BrokenMarkOnUnwind&) = delete;

  private:
    std::atomic<bool>& broken_;
    int exceptions_;
};

}  // namespace logging
