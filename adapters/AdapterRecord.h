#pragma once
// One adapter as the system query gives it, and the compact entry the
// watcher compares.

#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

struct AdapterRecord {
  std::string name;                    // "{ifname}": the key
  std::string description;             // the interface alias, else the driver name
  std::vector<std::string> addresses;  // IPv4, dotted, in the system's order
  int index = 0;                       // interface index
};

struct AdapterEntry {
  std::string name;
  std::string description;
  std::string address;  // the first IPv4 address, empty when there is none

  bool operator==(const AdapterEntry&) const = default;
};

using AdapterList = std::vector<AdapterEntry>;

inline constexpr size_t kRecordNameWidth = 260;
inline constexpr size_t kRecordDescriptionWidth = 132;
inline constexpr size_t kEntryNameWidth = 100;
inline constexpr size_t kEntryDescriptionWidth = 150;
inline constexpr size_t kEntryAddressWidth = 50;

// Control bytes become blanks (a line break in a description would split a
// line of adapters.dat), blanks are trimmed and the text is cut to width.
std::string CleanAdapterText(std::string_view text, size_t width);

// The entry the watcher keeps for a record.
AdapterEntry MakeAdapterEntry(const AdapterRecord& record);

}  // namespace vantrel
