#include "model/TextCut.h"

namespace vantrel {

namespace {

bool IsContinuation(unsigned char c) {
  return (c & 0xC0) == 0x80;
}

// The length a lead byte announces, 0 for a byte that leads nothing.
size_t SequenceLength(unsigned char c) {
  if ((c & 0xE0) == 0xC0) return 2;
  if ((c & 0xF0) == 0xE0) return 3;
  if ((c & 0xF8) == 0xF0) return 4;
  return 0;
}

}  // namespace

std::string_view CutToWidth(std::string_view text, size_t width) {
  if (text.size() <= width) return text;
  // Walk back from the first dropped byte to the lead of its character.
  size_t lead = width;
  while (lead > 0 && width - lead < 3 && IsContinuation(static_cast<unsigned char>(text[lead]))) {
    --lead;
  }
  if (lead < width && SequenceLength(static_cast<unsigned char>(text[lead])) > width - lead) {
    return text.substr(0, lead);
  }
  return text.substr(0, width);
}

}  // namespace vantrel
