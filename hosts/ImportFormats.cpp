#include "hosts/ImportFormats.h"

namespace vantrel::routing {

namespace {

bool IsAsciiLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

char Upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool IsCommentOrBlank(std::string_view line) {
  return line.empty() || line.front() == '#';
}

// The index-th field of a line, or false when the line is shorter or a
// quoted field in it is broken.
bool FieldAt(std::string_view line, int index, std::string_view& field) {
  if (index < 0) return false;
  TCsvFields fields(line);
  std::string_view f;
  for (int i = 0; fields.Next(f); ++i) {
    if (fields.Malformed()) return false;
    if (i == index) {
      field = f;
      return true;
    }
  }
  return false;
}

}  // namespace

std::optional<uint32_t> ParseIPv4(std::string_view text) {
  uint32_t address = 0;
  if (!ParseAddress(text, address)) return std::nullopt;
  return address;
}

std::optional<TImportRange> ParseCidr(std::string_view text) {
  uint32_t length = 32;
  const size_t slash = text.find('/');
  if (slash != std::string_view::npos) {
    const std::string_view bits = text.substr(slash + 1);
    if (bits.size() > 2) return std::nullopt;
    const auto parsed = ParseDecimal32(bits);
    if (!parsed || *parsed > 32) return std::nullopt;
    length = *parsed;
    text = text.substr(0, slash);
  }
  const auto address = ParseIPv4(text);
  if (!address) return std::nullopt;
  const uint32_t hostBits = length == 0 ? UINT32_MAX : (length == 32 ? 0 : UINT32_MAX >> length);
  // Host bits set usually means a typing error; guessing the network would
  // import a range nobody wrote.
  if ((*address & hostBits) != 0) return std::nullopt;
  TImportRange range;
  range.first = *address;
  range.last = *address | hostBits;
  return range;
}

bool TakeCountryCode(std::string_view text, char code[2]) {
  if (text.size() != 2 || !IsAsciiLetter(text[0]) || !IsAsciiLetter(text[1])) return false;
  const char a = Upper(text[0]);
  const char b = Upper(text[1]);
  if (a == 'Z' && b == 'Z') return false;
  code[0] = a;
  code[1] = b;
  return true;
}

bool TCsvFields::Next(std::string_view& field) {
  if (done_) return false;
  if (!rest_.empty() && rest_.front() == '"') {
    size_t from = 1;
    for (;;) {
      const size_t quote = rest_.find('"', from);
      if (quote == std::string_view::npos) {
        malformed_ = true;
        field = rest_.substr(1);
        done_ = true;
        return true;
      }
      if (quote + 1 < rest_.size() && rest_[quote + 1] == '"') {
        from = quote + 2;
        continue;
      }
      field = rest_.substr(1, quote - 1);
      rest_.remove_prefix(quote + 1);
      break;
    }
    if (rest_.empty()) {
      done_ = true;
    } else if (rest_.front() == ',') {
      rest_.remove_prefix(1);
    } else {
      malformed_ = true;
      const size_t comma = rest_.find(',');
      if (comma == std::string_view::npos) {
        done_ = true;
      } else {
        rest_.remove_prefix(comma + 1);
      }
    }
    return true;
  }
  const size_t comma = rest_.find(',');
  if (comma == std::string_view::npos) {
    field = rest_;
    done_ = true;
  } else {
    field = rest_.substr(0, comma);
    rest_.remove_prefix(comma + 1);
  }
  return true;
}

std::string UnquoteCsv(std::string_view field) {
  std::string text;
  text.reserve(field.size());
  for (size_t i = 0; i < field.size(); ++i) {
    text += field[i];
    if (field[i] == '"' && i + 1 < field.size() && field[i + 1] == '"') ++i;
  }
  return text;
}

std::string_view StripCarriageReturn(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

namespace {

// The three fields FIRST,LAST,CC shared by the Tor and DB-IP formats; the
// bounds are parsed by `bound`.
template <typename ParseBound>
TLineResult ParseThreeFields(std::string_view line, ParseBound bound, TImportRange& range) {
  TCsvFields fields(line);
  std::string_view first, last, code, extra;
  if (!fields.Next(first) || !fields.Next(last) || !fields.Next(code) || fields.Next(extra) ||
      fields.Malformed()) {
    return TLineResult::Skipped;
  }
  const auto from = bound(first);
  const auto to = bound(last);
  if (!from || !to || *from > *to || !TakeCountryCode(code, range.code)) {
    return TLineResult::Skipped;
  }
  range.first = *from;
  range.last = *to;
  return TLineResult::Range;
}

}  // namespace

TLineResult ParseTorLine(std::string_view line, TImportRange& range) {
  if (IsCommentOrBlank(line)) return TLineResult::Ignored;
  return ParseThreeFields(line, ParseDecimal32, range);
}

TLineResult ParseDbipLine(std::string_view line, TImportRange& range) {
  if (IsCommentOrBlank(line)) return TLineResult::Ignored;
  std::string_view first;
  TCsvFields fields(line);
  // The same file lists IPv6 ranges after the IPv4 ones.
  if (fields.Next(first) && first.find(':') != std::string_view::npos) {
    return TLineResult::Ignored;
  }
  return ParseThreeFields(line, ParseIPv4, range);
}

TLineResult ParseCidrLine(std::string_view line, const char code[2], TImportRange& range) {
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
  while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
  if (IsCommentOrBlank(line)) return TLineResult::Ignored;
  const auto network = ParseCidr(line);
  if (!network) return TLineResult::Skipped;
  range = *network;
  range.code[0] = code[0];
  range.code[1] = code[1];
  return TLineResult::Range;
}

bool ReadGeoLite2BlockHeader(std::string_view line, TGeoLite2BlockColumns& columns) {
  columns = {};
  TCsvFields fields(line);
  std::string_view name;
  for (int i = 0; fields.Next(name); ++i) {
    if (name == "network") columns.network = i;
    if (name == "geoname_id") columns.geonameId = i;
    if (name == "registered_country_geoname_id") columns.registeredId = i;
  }
  return columns.network >= 0 && (columns.geonameId >= 0 || columns.registeredId >= 0);
}

bool ReadGeoLite2LocationHeader(std::string_view line, TGeoLite2LocationColumns& columns) {
  columns = {};
  TCsvFields fields(line);
  std::string_view name;
  for (int i = 0; fields.Next(name); ++i) {
    if (name == "geoname_id") columns.geonameId = i;
    if (name == "country_iso_code") columns.code = i;
    if (name == "country_name") columns.name = i;
  }
  return columns.geonameId >= 0 && columns.code >= 0;
}

TLineResult ParseGeoLite2BlockLine(std::string_view line, const TGeoLite2BlockColumns& columns,
                                   TImportRange& range, uint32_t& geonameId) {
  if (line.empty()) return TLineResult::Ignored;
  std::string_view network;
  if (!FieldAt(line, columns.network, network)) return TLineResult::Skipped;
  if (network.find(':') != std::string_view::npos) return TLineResult::Ignored;
  const auto parsed = ParseCidr(network);
  if (!parsed) return TLineResult::Skipped;
  std::string_view id;
  if (!FieldAt(line, columns.geonameId, id) || id.empty()) {
    if (!FieldAt(line, columns.registeredId, id) || id.empty()) return TLineResult::Skipped;
  }
  const auto number = ParseDecimal32(id);
  if (!number) return TLineResult::Skipped;
  range = *parsed;
  geonameId = *number;
  return TLineResult::Range;
}

bool ParseGeoLite2LocationLine(std::string_view line, const TGeoLite2LocationColumns& columns,
                               uint32_t& geonameId, std::string_view& code,
                               std::string_view& name) {
  std::string_view id;
  if (!FieldAt(line, columns.geonameId, id)) return false;
  const auto number = ParseDecimal32(id);
  if (!number || !FieldAt(line, columns.code, code)) return false;
  if (!FieldAt(line, columns.name, name)) name = {};
  geonameId = *number;
  return true;
}

}  // namespace vantrel::routing
