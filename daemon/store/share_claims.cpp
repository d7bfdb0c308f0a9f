#include "daemon/store/share_claims.h"

#include "daemon/base/own_folders.h"

#include <algorithm>

namespace korvane::server {

std::optional<std::string> ShareClaims::Claim(const std::string& folder) {
  std::lock_guard lock(mutex_);
  for (const std::string& running : claimed_) {
    if (IsWithin(folder, running) || IsWithin(running, folder)) return running;
  }
  claimed_.push_back(folder);
  return std::nullopt;
}

void ShareClaims::Release(const std::string& folder) {
  std::lock_guard lock(mutex_);
  if (const auto found = std::find(claimed_.begin(), claimed_.end(), folder); found != claimed_.end()) {
    claimed_.erase(found);
  }
}

ShareClaim::ShareClaim(ShareClaims& claims, std::string folder)
    : claims_(claims), folder_(std::move(folder)), overlapping_(claims_.Claim(folder_)) {}

ShareClaim::~ShareClaim() {
  if (!overlapping_) claims_.Release(folder_);
}

}  // namespace korvane::server
