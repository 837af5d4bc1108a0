// Reading of the initial plug table from "startProfile.ini".
#pragma once

#include "host/host_services.h"
#include "store/state.h"

namespace plugstore {

void readStartProfile(State& st, HostServices& host);

}  // namespace plugstore
