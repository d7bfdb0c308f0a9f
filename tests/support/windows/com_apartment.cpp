#include "support/com_apartment.h"

#include "platform/windows_api.h"

#include <stdexcept>

namespace korvane::testing {

ComApartment::ComApartment() {
  if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) throw std::runtime_error("COM did not start");
}

ComApartment::~ComApartment() { ::CoUninitialize(); }

}  // namespace korvane::testing
