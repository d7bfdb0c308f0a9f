// The claims of running shares: a share of a folder inside, around or the
// same as one still being shared is kept from claiming it.
#include "share_claims.h"

#include <gtest/gtest.h>

namespace korvane::reference {
namespace {

TEST(ShareClaims, AShareInsideOrAroundARunningOneClaimsNothing) {
  const struct {
    const char* folder;
    std::optional<std::string> overlapping;
  } cases[] = {
      {"/home/ann/plans", "/home/ann/plans"},          // the same folder
      {"/home/ann/plans/drafts", "/home/ann/plans"},   // inside
      {"/home/ann", "/home/ann/plans"},                // around
      {"/", "/home/ann/plans"},                        // around, from the top
      {"/home/ann/plans 2", std::nullopt},             // a neighbour whose name begins the same
      {"/home/ann/plan", std::nullopt},                // a neighbour whose name the other begins with
      {"/home/bob/plans", std::nullopt},               // elsewhere
  };
  for (const auto& each : cases) {
    server::ShareClaims claims;
    ASSERT_EQ(claims.Claim("/home/ann/plans"), std::nullopt);
    EXPECT_EQ(claims.Claim(each.folder), each.overlapping) << each.folder;
  }
}

TEST(ShareClaims, AnEndedShareLetsGoOfItsFolderAndARefusedOneOfNothing) {
  server::ShareClaims claims;
  {
    const server::ShareClaim first(claims, "/home/ann/plans");
    ASSERT_FALSE(first.Overlapping());
    const server::ShareClaim inside(claims, "/home/ann/plans/drafts");
    EXPECT_EQ(inside.Overlapping(), "/home/ann/plans");
  }
  // The refused claim ending did not let go of the first one's folder early:
  // both have ended now, and each folder can be claimed again.
  const server::ShareClaim again(claims, "/home/ann/plans/drafts");
  EXPECT_FALSE(again.Overlapping());
  const server::ShareClaim around(claims, "/home/ann");
  EXPECT_EQ(around.Overlapping(), "/home/ann/plans/drafts");
}

}  // namespace
}  // namespace korvane::reference
