#include "routing/ProxyAutoConfig.h"

#include <charconv>
#include <cstdint>
#include <cstring>

#include "hosts/Addresses.h"
#include "hosts/CidrBlocks.h"

namespace vantrel {

namespace {

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// Each byte's decimal text and a dot, four bytes wide, and its length with
// the dot: an address is written as four fixed-size copies. A long bypass
// list writes tens of thousands of addresses.
struct TByteTexts {
  char text[256][4] = {};
  uint8_t length[256] = {};
  constexpr TByteTexts() {
    for (unsigned value = 0; value < 256; ++value) {
      unsigned n = 0;
      if (value >= 100) text[value][n++] = static_cast<char>('0' + value / 100);
      if (value >= 10) text[value][n++] = static_cast<char>('0' + value / 10 % 10);
      text[value][n++] = static_cast<char>('0' + value % 10);
      text[value][n++] = '.';
      length[value] = static_cast<uint8_t>(n);
    }
  }
};
constexpr TByteTexts kByteTexts;

// Dotted decimal without padding, written at `at`; returns the end. Writes
// up to 16 bytes, whatever the address.
char* WriteAddress(char* at, uint32_t address) {
  for (int shift = 24; shift >= 0; shift -= 8) {
    const unsigned part = (address >> shift) & 0xFF;
    std::memcpy(at, kByteTexts.text[part], 4);
    at += kByteTexts.length[part];
  }
  return at - 1;  // no dot after the last part
}

// The net mask of each prefix length as text, 16 bytes wide.
struct TMaskTexts {
  char text[33][16] = {};
  uint8_t length[33] = {};
  constexpr TMaskTexts() {
    for (int prefix = 0; prefix <= 32; ++prefix) {
      const uint32_t mask = prefix == 0 ? 0 : ~uint32_t{0} << (32 - prefix);
      unsigned n = 0;
      for (int shift = 24; shift >= 0; shift -= 8) {
        const unsigned part = (mask >> shift) & 0xFF;
        for (unsigned i = 0; i < kByteTexts.length[part]; ++i)
          text[prefix][n++] = kByteTexts.text[part][i];
      }
      length[prefix] = static_cast<uint8_t>(n - 1);  // without the last dot
    }
  }
};
constexpr TMaskTexts kMaskTexts;

constexpr std::string_view kScriptStart =
    "function FindProxyForURL(url, host) {\n"
    "  if (isPlainHostName(host) || host == \"localhost\")\n"
    "    return \"DIRECT\";\n";

constexpr std::string_view kAnswerHead =
    "HTTP/1.1 200 OK\r\n"
    "Content-Type: application/x-ns-proxy-autoconfig\r\n"
    "Cache-Control: max-age=300\r\n"
    "Content-Length: ";
constexpr std::string_view kAnswerHeadEnd = "\r\nConnection: close\r\n\r\n";
constexpr size_t kMaxAnswerHead = kAnswerHead.size() + 20 + kAnswerHeadEnd.size();

// The bypass test of the script, appended to text range by range: the
// list's ranges as address and mask pairs, tried for address literals only
// (a name would make the browser look it up; the proxy applies the bypass
// list to names itself). Nothing when no range holds an address.
class TBypassTestWriter {
 public:
  TBypassTestWriter(std::string& text, size_t entries) : text_(text) {
    text_.reserve(text_.size() + entries * 48 + 256);
  }
  TBypassTestWriter(const TBypassTestWriter&) = delete;
  TBypassTestWriter& operator=(const TBypassTestWriter&) = delete;

  // A list entry's blocks; nothing for an entry that is no range.
  void Add(std::string_view entry) {
    uint32_t low = 0, high = 0;
    if (!ParseRangeEntry(entry, low, high)) return;
    ForEachCidrBlock(low, high, [this](const TCidrBlock& block) { AddBlock(block); });
  }

  void Finish() {
    Flush();
    if (first_) return;
    text_ +=
        "\n  ];\n"
        "  if (/^[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+$/.test(host))\n"
        "    for (var i = 0; i < bypass.length; i += 2)\n"
        "      if (isInNet(host, bypass[i], bypass[i + 1]))\n"
        "        return \"DIRECT\";\n";
  }

 private:
  // One piece per block: `,\n    "a.b.c.d", "m.m.m.m"`.
  void AddBlock(const TCidrBlock& block) {
    if (at_ > buffer_ + sizeof buffer_ - kMaxPiece) Flush();
    char* at = at_;
    if (first_) {
      text_ += "  var bypass = [";  // the buffer is empty before the first block
      *at++ = '\n';                  // and no comma before it
      first_ = false;
    } else {
      std::memcpy(at, ",\n", 2);
      at += 2;
    }
    std::memcpy(at, "    \"", 5);
    at = WriteAddress(at + 5, block.address);
    std::memcpy(at, "\", \"", 4);
    std::memcpy(at + 4, kMaskTexts.text[block.prefix], 16);
    at += 4 + kMaskTexts.length[block.prefix];
    *at++ = '"';
    at_ = at;
  }

  void Flush() {
    text_.append(buffer_, static_cast<size_t>(at_ - buffer_));
    at_ = buffer_;
  }

  // Blocks are written here and appended a few KB at a time.
  static constexpr size_t kMaxPiece = 64;  // one block with the slack its copies need
  std::string& text_;
  char buffer_[8192];
  char* at_ = buffer_;
  bool first_ = true;
};

void AppendBypassTest(std::string& text, const std::vector<std::string>& bypassList) {
  TBypassTestWriter writer(text, bypassList.size());
  for (const std::string& entry : bypassList) writer.Add(entry);
  writer.Finish();
}

void AppendScriptEnd(std::string& text, const TLocalEnd& proxy) {
  text += "  return \"PROXY ";
  text += proxy.address;
  text += ':';
  text += std::to_string(proxy.port);
  text += "\";\n}\n";
}

std::string Script(std::string_view bypassTest, const TLocalEnd& proxy) {
  std::string text;
  text.reserve(kScriptStart.size() + bypassTest.size() + 64);
  text.append(kScriptStart).append(bypassTest);
  AppendScriptEnd(text, proxy);
  return text;
}

void AppendAnswerHead(std::string& answer, size_t scriptSize) {
  char digits[20];
  const auto written = std::to_chars(digits, digits + sizeof digits, scriptSize);
  answer.append(kAnswerHead).append(digits, written.ptr).append(kAnswerHeadEnd);
}

}  // namespace

bool IsAutoConfigPath(std::string_view path) {
  const std::string_view file = path.substr(0, path.find('?'));
  return file == "/proxy.pac" || file == "/wpad.dat";
}

bool IsAutoConfigRequest(std::string_view url, std::string_view host, std::string_view port,
                         std::string_view path, const TLocalEnd& proxy,
                         std::string_view machineName) {
  if (!IsAutoConfigPath(path)) return false;
  if (!url.empty() && url.front() == '/') return host.empty();  // origin form
  if (port != std::to_string(proxy.port)) return false;
  if (SameText(host, proxy.address)) return true;
  if (!machineName.empty() && SameText(host, machineName)) return true;
  return SameText(host, "localhost") && proxy.address.starts_with("127.");
}

std::string AutoConfigScript(const std::vector<std::string>& bypassList, bool bypassOn,
                             const TLocalEnd& proxy) {
  // Built in one piece: a long list makes a script of hundreds of KB.
  std::string text(kScriptStart);
  if (bypassOn) AppendBypassTest(text, bypassList);
  AppendScriptEnd(text, proxy);
  return text;
}

bool TAutoConfigFile::SameList(const std::vector<std::string>& bypassList) const {
  if (bypassList.size() != listEnds_.size()) return false;
  const std::string_view kept = listText_;
  size_t start = 0;
  for (size_t i = 0; i < bypassList.size(); ++i) {
    if (kept.substr(start, listEnds_[i] - start) != bypassList[i]) return false;
    start = listEnds_[i];
  }
  return true;
}

void TAutoConfigFile::Build(const std::vector<std::string>& bypassList, bool keepList) {
  bypassTest_.clear();
  listText_.clear();
  listEnds_.clear();
  listKept_ = keepList;
  TBypassTestWriter writer(bypassTest_, bypassList.size());
  if (keepList) {
    listEnds_.reserve(bypassList.size());
    // Kept as the test is built, while each entry is at hand.
    for (const std::string& entry : bypassList) {
      listText_ += entry;
      listEnds_.push_back(listText_.size());
      writer.Add(entry);
    }
  } else {
    for (const std::string& entry : bypassList) writer.Add(entry);
  }
  writer.Finish();
}

std::string TAutoConfigFile::Script(const std::vector<std::string>& bypassList, bool bypassOn,
                                    const TLocalEnd& proxy) {
  if (!bypassOn) return vantrel::Script({}, proxy);
  // Compared with the live list every time, so never stale.
  if (!listKept_ || !SameList(bypassList)) Build(bypassList, true);
  builtVersion_ = 0;
  return vantrel::Script(bypassTest_, proxy);
}

void TAutoConfigFile::Answer(const std::vector<std::string>& bypassList, uint64_t listVersion,
                             bool bypassOn, const TLocalEnd& proxy, bool head,
                             std::string& answer) {
  if (bypassOn && (listVersion == 0 || listVersion != builtVersion_)) {
    Build(bypassList, false);
    builtVersion_ = listVersion;
  }
  const std::string_view test = bypassOn ? std::string_view(bypassTest_) : std::string_view();
  std::string end;
  AppendScriptEnd(end, proxy);
  const size_t scriptSize = kScriptStart.size() + test.size() + end.size();
  answer.clear();
  answer.reserve(kMaxAnswerHead + (head ? 0 : scriptSize));
  AppendAnswerHead(answer, scriptSize);
  if (!head) answer.append(kScriptStart).append(test).append(end);
}

std::string AutoConfigResponse(const std::string& script, bool head) {
  std::string answer;
  answer.reserve(kMaxAnswerHead + (head ? 0 : script.size()));
  AppendAnswerHead(answer, script.size());
  if (!head) answer += script;
  return answer;
}

}  // namespace vantrel
