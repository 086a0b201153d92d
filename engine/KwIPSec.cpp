#include "engine/KwIPSec.h"

#include <string_view>

#include "engine/KwString.h"
#include "net/Resolve.h"
#include "net/SocketErrors.h"

namespace vantrel::engine {

namespace {

bool IsLocalhostEntry(const std::string& entry) {
  return SameText(entry, "localhost");
}

}  // namespace

bool TKwIPMaskList::Matches(uint32_t address) const {
  for (const TKwIPMask& m : items_)
    if ((address & m.Mask) == m.Network) return true;
  return false;
}

TKwIPSec::TKwIPSec() {
  ipList_.OnChange = [this](TStringList* sender) { IPListChanged(sender); };
}

void TKwIPSec::SetIPList(const TStringList& list) {
  if (&list != &ipList_) ipList_.Assign(list);
}

bool TKwIPSec::IsAllowed(const std::string& address) {
  uint32_t value;
  try {
    value = ParseIP(address);
  } catch (const net::ESocketException&) {
    return false;
  }
  return masks_.Count() == 0 || masks_.Matches(value);
}

bool TKwIPSec::IsValidMask(uint32_t mask) const {
  // Contiguous ones from the top: the inverted value plus one is a power of two.
  const uint32_t hostBits = ~mask;
  return (hostBits & (hostBits + 1)) == 0;
}

uint32_t TKwIPSec::ParseMask(const std::string& text) const {
  if (!net::IsDottedAddress(text)) return 0;
  const uint32_t value = net::WSocketResolveHost(text);
  return IsValidMask(value) ? value : 0;
}

uint32_t TKwIPSec::ParseIP(const std::string& text) const {
  return net::WSocketResolveHost(text);
}

bool TKwIPSec::SameNetwork(uint32_t a, uint32_t b, uint32_t mask) const {
  return (a & mask) == (b & mask);
}

void TKwIPSec::AddEntries(TStringList& list, bool allowLocalhost) {
  std::size_t index = 0;
  while (index < list.Count()) {
    const std::string entry = list[index];
    bool ok;
    if (allowLocalhost && IsLocalhostEntry(entry)) {
      TStringList local;
      local.Assign(LocalAddresses());
      AddEntries(local, false);
      ok = AddMask("127.0.0.1", "255.255.255.255");
    } else if (entry.find('/') == std::string::npos) {
      ok = AddMask(entry, "255.255.255.255");
    } else if (FieldCount(entry, "/") == 2) {
      ok = AddMask(FirstField(entry, "/"), LastField(entry, "/"));
    } else {
      ok = false;
    }
    if (ok)
      ++index;
    else
      list.Delete(index);
  }
}

void TKwIPSec::IPListChanged(TStringList*) {
  Rebuild();
}

bool TKwIPSec::AddMask(const std::string& address, const std::string& mask) {
  try {
    const uint32_t a = ParseIP(address);
    const uint32_t m = ParseMask(mask);
    if (m == 0) return false;
    masks_.Add(a, m);
    return true;
  } catch (const net::ESocketException&) {
    return false;
  }
}

void TKwIPSec::ClearMasks() {
  masks_.Clear();
}

void TKwIPSec::Rebuild() {
  ClearMasks();
  // Dropping failed entries edits the list; that must not start another rebuild.
  TStringList::NotifyPause pause(ipList_);
  AddEntries(ipList_, true);
}

std::vector<std::string> TKwIPSec::LocalAddresses() const {
  try {
    return net::LocalAddressList();
  } catch (const net::ESocketException&) {
    return {};
  }
}

}  // namespace vantrel::engine
