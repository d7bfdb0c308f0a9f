// The folders whose share is running now. A share imports a folder and then
// checks it out in place, so a second share of a folder inside or around one
// still being shared would import part of the same files into another space,
// or make a working copy inside another that is being made. Such a share
// does nothing; the first one claims its folder until it ends.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace korvane::server {

class ShareClaims {
 public:
  // Claims folder (resolved) unless a running share's folder is folder,
  // lies inside it or holds it; that folder then, and nothing is claimed.
  std::optional<std::string> Claim(const std::string& folder);
  // Lets go of a folder claimed before.
  void Release(const std::string& folder);

 private:
  std::mutex mutex_;
  std::vector<std::string> claimed_;
};

// Holds a claim for as long as it lives, when it got one.
class ShareClaim {
 public:
  ShareClaim(ShareClaims& claims, std::string folder);
  ~ShareClaim();
  ShareClaim(const ShareClaim&) = delete;
  ShareClaim& operator=(const ShareClaim&) = delete;
  // The running share that kept this one from claiming its folder.
  const std::optional<std::string>& Overlapping() const { return overlapping_; }

 private:
  ShareClaims& claims_;
  std::string folder_;
  std::optional<std::string> overlapping_;
};

}  // namespace korvane::server
