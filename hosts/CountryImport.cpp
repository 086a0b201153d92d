#include "hosts/CountryImport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <set>
#include <tuple>
#include <unordered_map>
#include <utility>

#include "files/FileIO.h"

namespace vantrel::routing {

namespace {

constexpr const char* kCountryCsv = "GeoIPCountryWhoIs.csv";
constexpr const char* kCountryList = "countries.dat";

// "1 line", "2 lines".
std::string Counted(size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

// Calls `line` for each line of `text` without its LF or CR LF; a UTF-8 byte
// order mark in front of the first line is dropped.
template <typename OnLine>
void ForEachLine(std::string_view text, OnLine line) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view one = text.substr(0, end);
    line(StripCarriageReturn(one));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
}

void Count(TLineResult outcome, const TImportRange& range, TImportResult& result) {
  if (outcome == TLineResult::Range) result.ranges.push_back(range);
  if (outcome == TLineResult::Skipped) ++result.skipped;
}

std::string ErrnoText(int code) {
  return std::strerror(code);
}

// The whole file in one read where the system allows it; pipes and other
// streams too, up to the bound.
bool ReadWholeFile(const std::filesystem::path& path, std::string& text, std::string& error,
                   size_t limit = kDataFileLimit) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = ErrnoText(errno);
    return false;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    error = S_ISDIR(info.st_mode) ? ErrnoText(EISDIR) : ErrnoText(errno);
    ::close(fd);
    return false;
  }
  auto tooLarge = [&] {
    std::string().swap(text);
    error = kFileTooLarge;
    ::close(fd);
    return false;
  };
  if (S_ISREG(info.st_mode) && static_cast<uint64_t>(info.st_size) > limit) return tooLarge();
  // Pipes and other streams report no size; grow as they deliver.
  size_t capacity = S_ISREG(info.st_mode) ? static_cast<size_t>(info.st_size) + 1 : 65536;
  text.resize(capacity);
  size_t used = 0;
  for (;;) {
    if (used > limit) return tooLarge();
    if (used == text.size()) text.resize(std::min(text.size() * 2, limit + 1));
    const ssize_t got = ::read(fd, text.data() + used, text.size() - used);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      error = ErrnoText(errno);
      ::close(fd);
      return false;
    }
    if (got == 0) break;
    used += static_cast<size_t>(got);
  }
  ::close(fd);
  text.resize(used);
  return true;
}

std::string NameOf(std::string_view code, const TCountryNames& names) {
  const auto found = names.find(code);
  return found == names.end() ? std::string(code) : found->second;
}

// Texts joined by appending: g++ 12 warns falsely about literal + string.
std::string Joined(std::initializer_list<std::string_view> parts) {
  std::string text;
  for (std::string_view part : parts) text += part;
  return text;
}

bool SameCode(const TImportRange& a, const TImportRange& b) {
  return a.code[0] == b.code[0] && a.code[1] == b.code[1];
}

}  // namespace

std::optional<TImportRequest> ParseImportRequest(const std::vector<std::string>& operands,
                                                 std::string& error) {
  if (operands.empty()) {
    error = "--import-country needs a format (tor, dbip, geolite2 or cidr CC) and files";
    return std::nullopt;
  }
  TImportRequest request;
  const std::string& format = operands[0];
  size_t firstFile = 1;
  if (format == "tor") {
    request.format = TImportFormat::Tor;
  } else if (format == "dbip") {
    request.format = TImportFormat::Dbip;
  } else if (format == "geolite2") {
    request.format = TImportFormat::GeoLite2;
  } else if (format == "cidr") {
    request.format = TImportFormat::Cidr;
    if (operands.size() < 2 || !TakeCountryCode(operands[1], request.code)) {
      error = "--import-country cidr needs a country code of two letters";
      return std::nullopt;
    }
    firstFile = 2;
  } else {
    error = "unknown import format '" + format + "' (expected tor, dbip, geolite2 or cidr)";
    return std::nullopt;
  }
  for (size_t i = firstFile; i < operands.size(); ++i) {
    if (operands[i].empty()) {
      error = "--import-country: empty file name";
      return std::nullopt;
    }
    request.files.emplace_back(operands[i]);
  }
  if (request.files.empty()) {
    error = "--import-country " + format + " needs at least one file";
    return std::nullopt;
  }
  if (request.format == TImportFormat::GeoLite2 && request.files.size() != 2) {
    error = "--import-country geolite2 needs two files: Blocks-IPv4 and Locations";
    return std::nullopt;
  }
  return request;
}

void ImportTorText(std::string_view text, TImportResult& result) {
  TImportRange range;
  ForEachLine(text,
              [&](std::string_view line) { Count(ParseTorLine(line, range), range, result); });
}

void ImportDbipText(std::string_view text, TImportResult& result) {
  TImportRange range;
  ForEachLine(text,
              [&](std::string_view line) { Count(ParseDbipLine(line, range), range, result); });
}

void ImportCidrText(std::string_view text, const char code[2], TImportResult& result) {
  TImportRange range;
  ForEachLine(
      text, [&](std::string_view line) { Count(ParseCidrLine(line, code, range), range, result); });
}

bool ImportGeoLite2Texts(std::string_view one, std::string_view other, TImportResult& result,
                         std::string& error) {
  const auto header = [](std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    return StripCarriageReturn(text.substr(0, text.find('\n')));
  };
  TGeoLite2BlockColumns blockColumns;
  TGeoLite2LocationColumns locationColumns;
  if (!ReadGeoLite2BlockHeader(header(one), blockColumns)) std::swap(one, other);
  if (!ReadGeoLite2BlockHeader(header(one), blockColumns)) {
    error = "neither file has the header of a GeoLite2 Blocks file (network, geoname_id)";
    return false;
  }
  if (!ReadGeoLite2LocationHeader(header(other), locationColumns)) {
    error = "no GeoLite2 Locations file (geoname_id, country_iso_code) beside the Blocks file";
    return false;
  }

  // A geoname id without a country (a continent) maps to an empty code.
  std::unordered_map<uint32_t, std::array<char, 2>> countries;
  bool firstLine = true;
  ForEachLine(other, [&](std::string_view line) {
    if (std::exchange(firstLine, false)) return;
    uint32_t id = 0;
    std::string_view code, name;
    if (!ParseGeoLite2LocationLine(line, locationColumns, id, code, name)) return;
    std::array<char, 2> taken{0, 0};
    if (TakeCountryCode(code, taken.data())) {
      const std::string clean = CleanCountryName(UnquoteCsv(name));
      if (!clean.empty()) result.names.emplace(std::string(taken.data(), 2), clean);
    }
    countries[id] = taken;
  });

  firstLine = true;
  TImportRange range;
  ForEachLine(one, [&](std::string_view line) {
    if (std::exchange(firstLine, false)) return;
    uint32_t id = 0;
    const TLineResult outcome = ParseGeoLite2BlockLine(line, blockColumns, range, id);
    if (outcome != TLineResult::Range) return Count(outcome, range, result);
    const auto found = countries.find(id);
    if (found == countries.end() || found->second[0] == 0) {
      ++result.skipped;
      return;
    }
    range.code[0] = found->second[0];
    range.code[1] = found->second[1];
    result.ranges.push_back(range);
  });
  return true;
}

size_t NormaliseRanges(std::vector<TImportRange>& ranges) {
  std::sort(ranges.begin(), ranges.end(), [](const TImportRange& a, const TImportRange& b) {
    if (a.first != b.first) return a.first < b.first;
    if (a.last != b.last) return a.last < b.last;
    return a.Code() < b.Code();
  });
  size_t conflicts = 0;
  size_t kept = 0;
  for (TImportRange range : ranges) {
    if (kept > 0) {
      TImportRange& previous = ranges[kept - 1];
      // Everything from range.first up to previous.last is already taken.
      const bool overlaps = range.first <= previous.last;
      const bool adjacent = !overlaps && range.first == previous.last + 1;
      if ((overlaps || adjacent) && SameCode(range, previous)) {
        previous.last = std::max(previous.last, range.last);
        continue;
      }
      if (overlaps) {
        ++conflicts;
        if (range.last <= previous.last) continue;
        range.first = previous.last + 1;
      }
    }
    ranges[kept++] = range;
  }
  ranges.resize(kept);
  return conflicts;
}

std::string FormatCountryCsv(const std::vector<TImportRange>& ranges, const TCountryNames& names) {
  // Each country's name looked up once, then found by its code: two of the
  // letters TakeCountryCode lets through.
  std::vector<std::string> countryNames;
  std::array<int32_t, 26 * 26> slot;
  slot.fill(-1);
  const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') ? c - 'A' : -1; };
  std::vector<int32_t> nameOf(ranges.size());
  for (size_t i = 0; i < ranges.size(); ++i) {
    const int high = letter(ranges[i].code[0]);
    const int low = letter(ranges[i].code[1]);
    int32_t* cached = (high < 0 || low < 0) ? nullptr : &slot[high * 26 + low];
    if (cached == nullptr || *cached < 0) {
      const auto index = static_cast<int32_t>(countryNames.size());
      countryNames.push_back(NameOf(ranges[i].Code(), names));
      if (cached != nullptr) *cached = index;
      nameOf[i] = index;
    } else {
      nameOf[i] = *cached;
    }
  }
  // Six pairs of quotes, five commas, two dotted and two decimal numbers at most.
  constexpr size_t kLongestWithoutName = 70;
  size_t size = 0;
  for (int32_t index : nameOf) size += kLongestWithoutName + countryNames[index].size();
  std::string out(size, '\0');
  char* p = out.data();
  const auto put = [&p](std::string_view text) {
    std::memcpy(p, text.data(), text.size());
    p += text.size();
  };
  const auto number = [&p](uint32_t value) { p = std::to_chars(p, p + 10, value).ptr; };
  const auto dotted = [&](uint32_t address) {
    for (int shift = 24; shift >= 0; shift -= 8) {
      number((address >> shift) & 0xFF);
      if (shift > 0) *p++ = '.';
    }
  };
  for (size_t i = 0; i < ranges.size(); ++i) {
    const TImportRange& range = ranges[i];
    put("\"");
    dotted(range.first);
    put("\",\"");
    dotted(range.last);
    put("\",\"");
    number(range.first);
    put("\",\"");
    number(range.last);
    put("\",\"");
    put(range.Code());
    put("\",\"");
    put(countryNames[nameOf[i]]);
    put("\"\n");
  }
  out.resize(static_cast<size_t>(p - out.data()));
  return out;
}

std::string FormatCountryList(const std::vector<TImportRange>& ranges, const TCountryNames& names) {
  std::set<std::string, std::less<>> codes;
  for (const TImportRange& range : ranges) codes.emplace(range.code, 2);
  // Codes nobody named (withdrawn or regional ones) go after the countries.
  std::vector<std::tuple<bool, std::string, std::string>> byName;
  for (const std::string& code : codes) {
    const std::string name = NameOf(code, names);
    byName.emplace_back(name == code, name, code);
  }
  std::sort(byName.begin(), byName.end());
  std::string out;
  for (const auto& [unnamed, name, code] : byName) {
    out += code;
    out += ' ';
    out += name;
    out += '\n';
  }
  return out;
}

std::filesystem::path TorGeoipFile() {
  const char* chosen = std::getenv("VANTREL_TOR_GEOIP");
  return chosen ? chosen : kTorGeoipFile;
}

TImportReport ImportCountryData(const TImportRequest& request, const TImportOptions& options) {
  TImportReport report;
  const auto fail = [&report](std::string error) {
    report.errors.push_back(std::move(error));
    report.exitCode = 1;
    return report;
  };
  TImportResult result;
  std::vector<std::string> texts(request.files.size());
  for (size_t i = 0; i < request.files.size(); ++i) {
    std::string error;
    if (!ReadWholeFile(request.files[i], texts[i], error)) {
      if (error == kFileTooLarge)
        return fail(Joined({request.files[i].string(), ": ", kFileTooLarge}));
      return fail(Joined({"cannot read ", request.files[i].string(), ": ", error}));
    }
  }
  switch (request.format) {
    case TImportFormat::Tor:
      for (const std::string& text : texts) ImportTorText(text, result);
      break;
    case TImportFormat::Dbip:
      for (const std::string& text : texts) ImportDbipText(text, result);
      break;
    case TImportFormat::Cidr:
      for (const std::string& text : texts) ImportCidrText(text, request.code, result);
      break;
    case TImportFormat::GeoLite2: {
      std::string error;
      if (!ImportGeoLite2Texts(texts[0], texts[1], result, error)) return fail(error);
      break;
    }
  }
  texts.clear();

  const size_t conflicts = NormaliseRanges(result.ranges);
  if (result.ranges.empty()) {
    return fail(Joined(
        {"no IPv4 address ranges found (", Counted(result.skipped, "line", "lines"), " skipped)"}));
  }

  // Names the sources carry come first; the rest from iso-codes, if present.
  std::string isoText, ignored;
  if (ReadWholeFile(options.isoCodesFile, isoText, ignored)) {
    result.names.merge(ParseIsoCountryNames(isoText));
  }

  std::string error;
  const std::filesystem::path csv = options.dataFolder / kCountryCsv;
  if (!WriteFileAtomically(csv, FormatCountryCsv(result.ranges, result.names), error)) {
    return fail(Joined({"cannot write ", csv.string(), ": ", error}));
  }
  const std::filesystem::path list = options.dataFolder / kCountryList;
  std::error_code ignoredCode;
  const bool listMissing =
      !std::filesystem::exists(std::filesystem::symlink_status(list, ignoredCode));
  if (listMissing &&
      !WriteFileAtomically(list, FormatCountryList(result.ranges, result.names), error)) {
    return fail(Joined({"cannot write ", list.string(), ": ", error}));
  }

  std::set<std::string, std::less<>> countries;
  for (const TImportRange& range : result.ranges) countries.emplace(range.code, 2);
  if (conflicts > 0) {
    report.errors.push_back(std::to_string(conflicts) +
                            " ranges overlapped another country's; the range that starts first "
                            "kept the shared addresses");
  }
  std::string summary = "Imported ";
  summary += Counted(result.ranges.size(), "range", "ranges");
  summary += " for ";
  summary += Counted(countries.size(), "country", "countries");
  summary += "; ";
  summary += Counted(result.skipped, "line", "lines");
  summary += " skipped";
  report.output.push_back(std::move(summary));
  report.output.push_back(Joined({"Wrote ", csv.string()}));
  if (listMissing) report.output.push_back(Joined({"Wrote ", list.string()}));
  return report;
}

int RunCountryImport(const TImportRequest& request, const TImportOptions& options, std::FILE* out,
                     std::FILE* err) {
  const TImportReport report = ImportCountryData(request, options);
  for (const std::string& line : report.errors) std::fprintf(err, "vantrel: %s\n", line.c_str());
  for (const std::string& line : report.output) std::fprintf(out, "%s\n", line.c_str());
  return report.exitCode;
}

}  // namespace vantrel::routing
