// COM started on the test's thread for its lifetime, as the shell has it
// started before it calls a handler: server locks go through COM.
#pragma once

namespace korvane::testing {

class ComApartment {
 public:
  ComApartment();  // throws std::runtime_error when COM cannot start
  ~ComApartment();
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
};

}  // namespace korvane::testing
