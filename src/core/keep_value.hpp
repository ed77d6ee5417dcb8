#pragma once
// Puts a value (a re-aimed window, a saved pointer) back when the scope ends, also when an
// error stop unwinds through it.

namespace kinrad {

template <class T>
class KeepValue {
 public:
  explicit KeepValue(T& ref) : ref_(ref), saved_(ref) {}
  ~KeepValue() { ref_ = saved_; }
  KeepValue(const KeepValue&) = delete;
  KeepValue& operator=(const KeepValue&) = delete;

 private:
  T& ref_;
  T saved_;
};

}  // namespace kinrad
