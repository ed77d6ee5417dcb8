#pragma once
// Runs the program's pauses without waiting for the duration of a scope and records their
// lengths, so that a test can check the pause a message is followed by.
#include <vector>

#include "core/clock.hpp"

namespace kinrad::testing_support {

class RecordedPauses {
 public:
  RecordedPauses() {
    seconds().clear();
    clock_hooks.pause = [](int4 n) { seconds().push_back(n); };
  }
  ~RecordedPauses() { clock_hooks.pause = nullptr; }
  RecordedPauses(const RecordedPauses&) = delete;
  RecordedPauses& operator=(const RecordedPauses&) = delete;

  // Lengths in whole seconds, in the order the pauses were asked for.
  const std::vector<int4>& lengths() const { return seconds(); }

 private:
  static std::vector<int4>& seconds() {
    static std::vector<int4> recorded;
    return recorded;
  }
};

}  // namespace kinrad::testing_support
