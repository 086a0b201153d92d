#include "adapters/AdapterRecord.h"

#include "model/TextCut.h"

namespace vantrel {

std::string CleanAdapterText(std::string_view text, size_t width) {
  std::string clean(text);
  for (char& c : clean) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) c = ' ';
  }
  const size_t first = clean.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  const size_t last = clean.find_last_not_of(' ');
  return std::string(CutToWidth(std::string_view(clean).substr(first, last - first + 1), width));
}

AdapterEntry MakeAdapterEntry(const AdapterRecord& record) {
  AdapterEntry entry;
  entry.name = CleanAdapterText(record.name, kEntryNameWidth);
  entry.description = CleanAdapterText(record.description, kEntryDescriptionWidth);
  if (!record.addresses.empty()) {
    entry.address = CleanAdapterText(record.addresses.front(), kEntryAddressWidth);
  }
  return entry;
}

}  // namespace vantrel
