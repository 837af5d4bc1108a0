// PLACEHOLDER, to be replaced by the start-profile work.
#include "store/start_profile.h"
namespace plugstore {
void readStartProfile(State&, HostServices&) {}
}  // namespace plugstore
