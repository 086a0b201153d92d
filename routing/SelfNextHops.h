#pragma once
// Next hops that are the proxy itself. A request sent there would come back
// as a new request and be sent there again; the engine never follows such a
// hop, and the user is told once, when the next hops are set.

#include <string>

#include "model/MainControls.h"
#include "model/NextHopRecords.h"

namespace vantrel {

// The line that names every switched-on next hop that is this machine on
// the proxy's port; empty when there is none.
std::string SelfNextHopsLine(TMainControls& controls, const TNextHopRecords& records,
                             int proxyPort);

}  // namespace vantrel
