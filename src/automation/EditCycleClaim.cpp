#include "automation/EditCycleClaim.h"

#include <mutex>

namespace nib {
namespace {

struct Claim {
  std::mutex mutex;
  const void* owner = nullptr;
};

Claim& ProcessClaim() {
  static Claim claim;
  return claim;
}

}  // namespace

bool ClaimEditCycle(const void* owner) {
  Claim& claim = ProcessClaim();
  std::lock_guard lock(claim.mutex);
  if (claim.owner && claim.owner != owner) return false;
  claim.owner = owner;
  return true;
}

void ReleaseEditCycle(const void* owner) {
  Claim& claim = ProcessClaim();
  std::lock_guard lock(claim.mutex);
  if (claim.owner == owner) claim.owner = nullptr;
}

}  // namespace nib
