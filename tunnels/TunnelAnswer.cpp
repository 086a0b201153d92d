#include "tunnels/TunnelAnswer.h"

namespace vantrel {

std::string TunnelConnectRequest(const std::string& host, int port) {
  return "CONNECT " + host + ":" + std::to_string(port) + " HTTP/1.0\r\n" +
         "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)\r\n\r\n";
}

namespace {

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (Lower(text[i]) != prefix[i]) return false;
  }
  return true;
}

// "HTTP/1.0 200" or "HTTP/1.1 200", alone or followed by a reason phrase.
bool IsSuccessStatus(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (!StartsWithIgnoringCase(line, "http/1.0 200") &&
      !StartsWithIgnoringCase(line, "http/1.1 200"))
    return false;
  return line.size() == 12 || line[12] == ' ' || line[12] == '\t';
}

}  // namespace

TAnswerVerdict JudgeAnswer(std::string_view collected, size_t& headerEnd) {
  // A header ends with an empty line; a proxy that ends lines with a bare LF
  // is understood too.
  size_t end = collected.find("\r\n\r\n");
  size_t endLength = 4;
  const size_t bare = collected.find("\n\n");
  if (bare != std::string_view::npos && (end == std::string_view::npos || bare < end)) {
    end = bare;
    endLength = 2;
  }
  if (end == std::string_view::npos || end + endLength > kMaxAnswerHeader) {
    if (collected.size() < kMaxAnswerHeader) return TAnswerVerdict::Incomplete;
    headerEnd = collected.size();
    return TAnswerVerdict::Refused;
  }
  headerEnd = end + endLength;
  const std::string_view statusLine = collected.substr(0, collected.find('\n'));
  return IsSuccessStatus(statusLine) ? TAnswerVerdict::Accepted : TAnswerVerdict::Refused;
}

}  // namespace vantrel
