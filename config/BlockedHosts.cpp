#include "config/BlockedHosts.h"

#include <algorithm>

#include "hosts/HostNames.h"

namespace vantrel {

namespace {

// Blanks, tabs and the other control characters: trimmed at the ends and
// separating words, so a cleaned name reads back as itself.
bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

std::vector<std::string> CleanBlockedHosts(const std::vector<std::string>& lines,
                                           std::vector<size_t>* ignored) {
  // Collected first, sorted once: inserting name by name into a sorted list
  // takes minutes for a pasted blocklist.
  std::vector<std::string> names;
  for (size_t index = 0; index < lines.size(); ++index) {
    std::string_view line = Trim(lines[index]);
    if (line.empty() || line.front() == '#') continue;
    // "ads.example # note": the note is no host name.
    for (size_t hash = line.find('#'); hash != std::string_view::npos;
         hash = line.find('#', hash + 1)) {
      if (IsBlank(line[hash - 1])) {
        line = Trim(line.substr(0, hash));
        break;
      }
    }
    std::vector<std::string_view> words;
    for (size_t at = 0; at < line.size();) {
      while (at < line.size() && IsBlank(line[at])) ++at;
      const size_t start = at;
      while (at < line.size() && !IsBlank(line[at])) ++at;
      if (at > start) words.push_back(line.substr(start, at - start));
    }
    // "127.0.0.1 ads.example tracker.example": every name after the address.
    const size_t first = words.size() > 1 ? 1 : 0;
    bool gave = false;
    for (size_t w = first; w < words.size(); ++w) {
      std::string name = HostKey(words[w]);
      // "." and "a.." name no host; kept, they would clean to another name
      // at the next load.
      if (name.empty() || name.back() == '.' || name == "localhost") continue;
      names.push_back(std::move(name));
      gave = true;
    }
    if (!gave && ignored) ignored->push_back(index);
  }
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

bool InBlockedHostList(const std::vector<std::string>& list, std::string_view host) {
  return std::binary_search(list.begin(), list.end(), HostKey(host));
}

}  // namespace vantrel
