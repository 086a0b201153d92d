#include "config/ConfigText.h"

namespace vantrel {

bool LooksLikeUtf16(std::string_view bytes) {
  if (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF") return true;
  // Text starts with a character below 256: one of its two bytes is NUL.
  return bytes.size() >= 2 && (bytes[0] == '\0') != (bytes[1] == '\0');
}

bool CrOnlyLineEnds(std::string_view bytes) {
  return bytes.find('\n') == std::string_view::npos && bytes.find('\r') != std::string_view::npos;
}

char LineEnd(std::string_view bytes) {
  return CrOnlyLineEnds(bytes) ? '\r' : '\n';
}

TReadResult ReadConfigText(const std::filesystem::path& path, std::string& data, std::string& error,
                           size_t limit) {
  const TReadResult read = ReadFileIfPresent(path, data, error, limit);
  if (read == TReadResult::Read && LooksLikeUtf16(data)) {
    data.clear();
    error = kUtf16Refused;
    return TReadResult::Failed;
  }
  return read;
}

}  // namespace vantrel
