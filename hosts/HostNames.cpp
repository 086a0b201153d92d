#include "hosts/HostNames.h"

namespace vantrel {

std::string_view WithoutFinalDot(std::string_view name) {
  if (name.size() > 1 && name.back() == '.') name.remove_suffix(1);
  return name;
}

std::string HostKey(std::string_view name) {
  std::string key(WithoutFinalDot(name));
  for (char& c : key)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return key;
}

}  // namespace vantrel
