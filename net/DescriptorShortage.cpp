#include "net/DescriptorShortage.h"

#include <cerrno>
#include <utility>
#include <vector>

namespace vantrel::net {

namespace {

struct TEntry {
  uint64_t id;
  TDescriptorReliever reliever;
};

// Per thread, as the event loop is: the sockets of one loop relieve each other.
std::vector<TEntry>& Relievers() {
  static thread_local std::vector<TEntry> list;
  return list;
}

thread_local uint64_t nextId = 1;

}  // namespace

uint64_t AddDescriptorReliever(TDescriptorReliever reliever) {
  const uint64_t id = nextId++;
  Relievers().push_back({id, std::move(reliever)});
  return id;
}

void RemoveDescriptorReliever(uint64_t id) {
  std::erase_if(Relievers(), [id](const TEntry& e) { return e.id == id; });
}

bool IsDescriptorShortage(int err) {
  return err == EMFILE || err == ENFILE;
}

bool RelieveDescriptorShortage() {
  // By id, looked up at each call: a reliever's closing may add or remove
  // relievers, and a removed one must not be called.
  std::vector<uint64_t> ids;
  for (const TEntry& e : Relievers()) ids.push_back(e.id);
  for (uint64_t id : ids) {
    TDescriptorReliever reliever;
    for (const TEntry& e : Relievers()) {
      if (e.id == id) reliever = e.reliever;
    }
    if (reliever && reliever()) return true;
  }
  return false;
}

}  // namespace vantrel::net
