#pragma once
// The processor topology of the Windows edition: GetLogicalProcessorInformationEx, limited to the
// processor group the program runs in (processors are numbered as in that group's masks; other
// groups are out of reach of the group-bound affinity calls the program uses).
#include "platform/topology.h"

namespace platform {

// The finished topology. When the system gives no processor information, the group's active
// processors alone (so at least "all processors" is offered).
Topology ReadWindowsTopology();

}  // namespace platform
