#include "model/DecryptText.h"

namespace vantrel {

std::string DecryptText(std::string_view text) {
  std::string out(text);
  for (size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<char>(static_cast<unsigned char>(out[i]) ^ ((i + 1) & 3));
  }
  return out;
}

}  // namespace vantrel
