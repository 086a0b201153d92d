#include "hosts/CountryImportNames.h"

#include <vector>

#include "hosts/ImportFormats.h"

namespace vantrel::routing {

namespace {

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Four hex digits at `at`, or -1.
int32_t Hex4(std::string_view text, size_t at) {
  if (at + 4 > text.size()) return -1;
  int32_t value = 0;
  for (size_t i = at; i < at + 4; ++i) {
    const char c = text[i];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return -1;
    }
    value = value * 16 + digit;
  }
  return value;
}

// Decodes the JSON string whose opening quote is at `pos`; leaves `pos` after
// the closing quote (or at the end of an unterminated string).
std::string ReadString(std::string_view text, size_t& pos) {
  std::string out;
  ++pos;
  while (pos < text.size() && text[pos] != '"') {
    const char c = text[pos++];
    if (c != '\\' || pos >= text.size()) {
      out += c;
      continue;
    }
    const char e = text[pos++];
    switch (e) {
      case 'b': out += '\b'; break;
      case 'f': out += '\f'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'u': {
        int32_t cp = Hex4(text, pos);
        if (cp < 0) {
          out += 'u';
          break;
        }
        pos += 4;
        if (cp >= 0xD800 && cp <= 0xDBFF && pos + 1 < text.size() && text[pos] == '\\' &&
            text[pos + 1] == 'u') {
          const int32_t low = Hex4(text, pos + 2);
          if (low >= 0xDC00 && low <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            pos += 6;
          }
        }
        // A lone surrogate cannot be written as UTF-8.
        if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0xFFFD;
        AppendUtf8(out, static_cast<uint32_t>(cp));
        break;
      }
      default: out += e; break;
    }
  }
  if (pos < text.size()) ++pos;
  return out;
}

struct TObjectFrame {
  bool expectKey = true;
  std::string key;
  std::string code;
  std::string name;
  std::string commonName;
};

}  // namespace

TCountryNames ParseIsoCountryNames(std::string_view json) {
  TCountryNames names;
  // One frame per open object or array; arrays carry no members.
  std::vector<TObjectFrame> objects;
  std::vector<bool> isObject;
  size_t pos = 0;
  while (pos < json.size()) {
    const char c = json[pos];
    if (c == '{' || c == '[') {
      isObject.push_back(c == '{');
      if (c == '{') objects.emplace_back();
      ++pos;
    } else if (c == '}' || c == ']') {
      ++pos;
      if (isObject.empty() || isObject.back() != (c == '}')) continue;
      isObject.pop_back();
      if (c == ']') continue;
      const TObjectFrame frame = std::move(objects.back());
      objects.pop_back();
      char code[2];
      if (TakeCountryCode(frame.code, code)) {
        const std::string& name = frame.commonName.empty() ? frame.name : frame.commonName;
        const std::string clean = CleanCountryName(name);
        if (!clean.empty()) names.emplace(std::string(code, 2), clean);
      }
    } else if (c == '"') {
      std::string text = ReadString(json, pos);
      if (isObject.empty() || !isObject.back()) continue;
      TObjectFrame& frame = objects.back();
      if (frame.expectKey) {
        frame.key = std::move(text);
        frame.expectKey = false;
      } else if (frame.key == "alpha_2") {
        frame.code = std::move(text);
      } else if (frame.key == "name") {
        frame.name = std::move(text);
      } else if (frame.key == "common_name") {
        frame.commonName = std::move(text);
      }
    } else if (c == ',') {
      if (!isObject.empty() && isObject.back()) objects.back().expectKey = true;
      ++pos;
    } else {
      ++pos;
    }
  }
  return names;
}

std::string CleanCountryName(std::string_view name) {
  std::string clean;
  clean.reserve(name.size());
  for (char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      clean += ' ';
    } else {
      clean += c == '"' ? '\'' : c;
    }
  }
  const size_t begin = clean.find_first_not_of(' ');
  if (begin == std::string::npos) return {};
  return clean.substr(begin, clean.find_last_not_of(' ') - begin + 1);
}

}  // namespace vantrel::routing
