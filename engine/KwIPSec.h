#pragma once
// TKwIPSec: the client address filter. Entry lines ("localhost", an address or
// host name, or address "/" dotted mask) compile into address/mask pairs; an
// empty list allows everybody. Entries that do not compile are removed from
// the entry list, so it always shows what is in force.
//
// Addresses and masks are host-order values (first dotted number is the most
// significant byte). Host names are resolved blocking, when the list is
// compiled and when a host name is checked.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/StringList.h"

namespace vantrel::engine {

struct TKwIPMask {
  TKwIPMask(uint32_t address, uint32_t mask) : Network(address & mask), Mask(mask) {}
  uint32_t Network;
  uint32_t Mask;
};

class TKwIPMaskList {
 public:
  void Add(uint32_t address, uint32_t mask) { items_.emplace_back(address, mask); }
  void Clear() { items_.clear(); }
  std::size_t Count() const { return items_.size(); }
  const TKwIPMask& Items(std::size_t index) const { return items_.at(index); }
  // True when some entry holds the address; the first match ends the search.
  bool Matches(uint32_t address) const;

 private:
  std::vector<TKwIPMask> items_;
};

class TKwIPSec {
 public:
  TKwIPSec();
  virtual ~TKwIPSec() = default;
  TKwIPSec(const TKwIPSec&) = delete;
  TKwIPSec& operator=(const TKwIPSec&) = delete;

  // The entry list. Changing it recompiles at once.
  TStringList& IPList() { return ipList_; }
  const TStringList& IPList() const { return ipList_; }
  const TKwIPMaskList& Masks() const { return masks_; }

  // Replaces the entries by a copy of the given lines (unless it is the own
  // list) and recompiles.
  virtual void SetIPList(const TStringList& list);

  // False when the address does not resolve, even with an empty list.
  bool IsAllowed(const std::string& address);

  virtual bool IsValidMask(uint32_t mask) const;
  // A valid dotted mask as a value; 0 for anything else.
  virtual uint32_t ParseMask(const std::string& text) const;
  // Throws ESocketException when the text does not resolve.
  virtual uint32_t ParseIP(const std::string& text) const;
  virtual bool SameNetwork(uint32_t a, uint32_t b, uint32_t mask) const;

 protected:
  // Compiles the entries of list, deleting the ones that fail.
  virtual void AddEntries(TStringList& list, bool allowLocalhost);
  virtual void IPListChanged(TStringList* sender);
  virtual bool AddMask(const std::string& address, const std::string& mask);
  virtual void ClearMasks();
  virtual void Rebuild();
  // The dotted addresses of this machine; empty when its name does not resolve.
  virtual std::vector<std::string> LocalAddresses() const;

 private:
  TStringList ipList_;
  TKwIPMaskList masks_;
};

}  // namespace vantrel::engine
