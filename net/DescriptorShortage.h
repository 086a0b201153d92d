#pragma once
// Out of descriptors (EMFILE, ENFILE): before an accept or a new socket
// fails for want of one, whoever can give some back is asked first (the
// proxy closes its oldest idle sessions), and the call is tried once more.

#include <cstdint>
#include <functional>

namespace vantrel::net {

// Returns true when it closed something.
using TDescriptorReliever = std::function<bool()>;

uint64_t AddDescriptorReliever(TDescriptorReliever reliever);
void RemoveDescriptorReliever(uint64_t id);

// True for the errno values that mean the descriptor table is full.
bool IsDescriptorShortage(int err);
// Asks the relievers in turn until one frees something; true when one did.
bool RelieveDescriptorShortage();

}  // namespace vantrel::net
