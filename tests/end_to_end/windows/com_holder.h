// An owner for one COM interface pointer: released when the owner goes.
#pragma once

#include <windows.h>

#include <utility>

namespace korvane::end_to_end {

template <typename Interface>
class ComHolder {
 public:
  ComHolder() = default;
  explicit ComHolder(Interface* object) : object_(object) {}
  ~ComHolder() { Reset(); }
  ComHolder(ComHolder&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  ComHolder& operator=(ComHolder&& other) noexcept {
    if (this != &other) {
      Reset();
      object_ = std::exchange(other.object_, nullptr);
    }
    return *this;
  }
  ComHolder(const ComHolder&) = delete;
  ComHolder& operator=(const ComHolder&) = delete;

  Interface* Get() const { return object_; }
  Interface* operator->() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }

  // Where a call that hands out a new reference writes it.
  void** Out() {
    Reset();
    return reinterpret_cast<void**>(&object_);
  }

  void Reset() {
    if (object_ != nullptr) object_->Release();
    object_ = nullptr;
  }

 private:
  Interface* object_ = nullptr;
};

}  // namespace korvane::end_to_end
