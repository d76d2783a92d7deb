#pragma once
// File permission checks as an ordinary user meets them. Run as root, the
// tests would pass every mode bit; while a WithoutFileOverride lives, the
// calling thread lacks the capabilities that bypass them (read, write and
// search permission, owner checks), and gets them back when it goes.
class WithoutFileOverride {
 public:
  WithoutFileOverride();
  ~WithoutFileOverride();
  WithoutFileOverride(const WithoutFileOverride&) = delete;
  WithoutFileOverride& operator=(const WithoutFileOverride&) = delete;
  // False when the capabilities could not be dropped (the checks may then
  // not apply to this process).
  bool ok() const { return ok_; }

 private:
  bool dropped_ = false;
  bool ok_ = true;
  unsigned saved_[2] = {0, 0};
};
