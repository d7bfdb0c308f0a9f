// The POSIX layer's server lock counts by itself: there is no COM to start.
#include "support/com_apartment.h"

namespace korvane::testing {

ComApartment::ComApartment() = default;

ComApartment::~ComApartment() = default;

}  // namespace korvane::testing
