#pragma once

#include <string>

namespace korvane::server {

// An exclusive lock held until the process ends (the descriptor stays
// open); false when another process holds it. The file itself stays, or a
// third process could lock a fresh file while the first still runs.
bool HoldLock(const std::string& path, std::string& problem);

}  // namespace korvane::server
