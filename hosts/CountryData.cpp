#include "hosts/CountryData.h"

#include <string_view>
#include <utility>
#include <vector>

#include "model/CountryTable.h"
#include "files/DataFolder.h"
#include "hosts/CountryCsv.h"
#include "hosts/DataFiles.h"
#include "hosts/HostNames.h"

namespace vantrel {

namespace {

constexpr size_t kCodeWidth = 2;

bool IsFileCode(const std::string& code) {
  if (code.size() != 2) return false;
  for (char c : code) {
    const bool alnum = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (!alnum) return false;
  }
  return true;
}

std::string Counted(size_t count, const std::string& thing) {
  return std::to_string(count) + " " + thing + (count == 1 ? "" : "s");
}

// Lines up to the last complete one: after a failed read a cut line must
// not pass for a whole one.
std::string_view CompleteLines(std::string_view data) {
  const size_t end = data.find_last_of("\r\n");
  return end == std::string_view::npos ? std::string_view() : data.substr(0, end + 1);
}

// A path as one word of a shell command.
std::string ShellWord(const std::string& text) {
  const bool plain = !text.empty() && text.find_first_not_of(
                                          "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                          "0123456789/._+-=:,@%") == std::string::npos;
  if (plain) return text;
  std::string word = "'";
  for (char c : text) {
    if (c == '\'') {
      word += "'\\''";
    } else {
      word += c;
    }
  }
  word += '\'';
  return word;
}

// The command that makes the missing country data.
std::string ImportCommand(const std::filesystem::path& torFile) {
  std::string command = "vantrel --import-country tor ";
  command += ShellWord(torFile.empty() ? routing::kTorGeoipFile : torFile.string());
  if (DataFolderGiven()) {
    command += " --data-dir ";
    command += ShellWord(DataFolder().string());
  }
  return command;
}

}  // namespace

TCountryData::TCountryData(TMainControls& controls, TRecordTable& mtblCountries,
                           TLocalRanges& ranges, TNextHopRecords& nextHops, TCommentSink comment)
    : controls_(controls),
      mtblCountries_(mtblCountries),
      ranges_(ranges),
      nextHops_(nextHops),
      comment_(std::move(comment)) {}

TCountryData::~TCountryData() {
  *alive_ = false;
  try {
    FlushLocalHostsFile();
  } catch (...) {
  }
}

std::string TCountryData::LocalHostsFileName(const std::string& code) {
  return "localhosts_" + code + ".dat";
}

bool TCountryData::ReadText(const std::filesystem::path& path, std::string& data,
                            std::string_view& text) {
  std::string error;
  if (ReadWholeFile(path, data, error, kDataFileLimit)) {
    text = data;
    return true;
  }
  comment_(ReadFailureText(path, error));
  text = CompleteLines(data);
  return false;
}

std::string TCountryData::CountryLabel(const std::string& code) const {
  return "Country " + (code.empty() ? std::string("<none>") : code);
}

bool TCountryData::ImportMissingCountryData() {
  namespace fs = std::filesystem;
  std::error_code error;
  // Whatever stands at the name, even what the load cannot use, is the user's.
  const bool present =
      FindDataFile(kRangesFile) || fs::exists(fs::symlink_status(DataPath(kRangesFile), error));
  if (present || TorGeoipFile.empty() || !fs::exists(TorGeoipFile, error)) return false;
  routing::TImportRequest request;
  request.format = routing::TImportFormat::Tor;
  request.files.push_back(TorGeoipFile);
  routing::TImportOptions options;
  options.dataFolder = DataFolder();
  options.isoCodesFile = IsoCodesFile;
  const routing::TImportReport report = routing::ImportCountryData(request, options);
  const std::string source = TorGeoipFile.string();
  if (report.exitCode != 0) {
    for (const std::string& line : report.errors) {
      std::string message = "Importing ";
      message += source;
      message += " failed: ";
      message += line;
      comment_(message);
    }
    return false;
  }
  // The summary, then any warning; which files it wrote goes without saying.
  comment_(source + ": " + report.output.front());
  for (const std::string& line : report.errors) comment_(source + ": " + line);
  return true;
}

void TCountryData::LoadCountryList() {
  using namespace country_fields;
  mtblCountries_.DisableControls();
  mtblCountries_.EmptyTable();
  auto append = [this](std::string_view code, std::string_view name) {
    mtblCountries_.Append();
    // The table cuts each text to its field's width on a character boundary.
    mtblCountries_.SetString(CountryCode, std::string(code));
    mtblCountries_.SetString(CountryName, std::string(name));
    mtblCountries_.Post();
  };

  const auto path = FindDataFile(kCountryListFile);
  std::string data;
  std::string_view text;
  const bool complete = path && ReadText(*path, data, text);
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // an editor's byte-order mark

  // An unreadable list still offers the default country; a partly read one
  // keeps the rows read.
  if (!path || (text.empty() && !complete)) {
    append(kDefaultCountryCode, "South Africa");
  } else {
    for (std::string_view line : SplitLines(text)) {
      append(line.substr(0, kCodeWidth), line.size() > 3 ? line.substr(3) : std::string_view());
    }
  }
  mtblCountries_.First();
  mtblCountries_.EnableControls();
}

void TCountryData::LoadCountryRanges(const std::string& code) {
  // Hosts filed by the old country's ranges do not belong to the new one's
  // lists: start from the new country's file.
  const bool otherCountry = rangesLoaded_ && code != rangesCountry_;
  ranges_.Clear();
  rangesCountry_ = code;
  rangesLoaded_ = true;
  if (otherCountry) {
    LoadLocalHostsFile(code);
    controls_.lbInternational.Clear();
  }

  const std::string label = CountryLabel(code);
  const auto path = FindDataFile(kRangesFile);
  if (!path) {
    comment_(label + ": no address ranges, " + kRangesFile + " not found in " +
             DataFolder().string() +
             "; every host counts as international; run: " + ImportCommand(TorGeoipFile));
    return;
  }
  const std::string name = path->filename().string();
  std::string data;
  std::string_view text;
  ReadText(*path, data, text);

  const TCountryLines lines = ReadCountryRanges(text, code, ranges_);
  const size_t inverted = ranges_.Normalize();
  if (const size_t skipped = lines.skipped + inverted; skipped > 0) {
    comment_(label + ": " + Counted(skipped, "line") + " with unusable address bounds skipped in " +
             name);
  }
  if (ranges_.Empty()) {
    comment_(label + ": no address ranges in " + name + "; every host counts as international");
  } else {
    comment_(label + ": " + Counted(ranges_.Count(), "address range") + " from " + name);
  }
}

void TCountryData::jvdbCountryChange(TControl& sender) {
  LoadLocalHostsFile(controls_.jvdbCountry.Value());
  controls_.lbInternational.Clear();
  nextHops_.cbIntConClick(sender);
}

void TCountryData::LoadLocalHostsFile(const std::string& code) {
  FlushLocalHostsFile();  // lbLocal still holds what waits to be written
  std::vector<std::string> hosts;
  // A code that could lead out of the data folder names no file.
  const bool nameable = code.find_first_of(std::string_view("/\0", 2)) == std::string::npos;
  const auto path = nameable ? FindDataFile(LocalHostsFileName(code)) : std::nullopt;
  if (path) {
    std::string data;
    std::string_view text;
    ReadText(*path, data, text);
    // "a.example." and "a.example" are one host.
    for (std::string_view line : SplitLines(text)) hosts.emplace_back(WithoutFinalDot(line));
  }
  controls_.lbLocal.SetItems(std::move(hosts));
}

void TCountryData::SaveLocalHostsFile(const std::string& code) {
  if (!IsFileCode(code) || !rangesLoaded_ || code != rangesCountry_) return;
  if (!pendingCode_.empty() && pendingCode_ != code) FlushLocalHostsFile();
  pendingCode_ = code;
  if (flushTimer_) return;
  std::weak_ptr<bool> alive = alive_;
  flushTimer_ = net::EventLoop::Default().AddTimer(LocalHostsDelay, [this, alive] {
    if (alive.expired() || !*alive.lock()) return;
    flushTimer_ = 0;
    FlushLocalHostsFile();
  });
}

void TCountryData::FlushLocalHostsFile() {
  if (flushTimer_) net::EventLoop::Default().CancelTimer(flushTimer_);
  flushTimer_ = 0;
  if (pendingCode_.empty()) return;
  const std::string code = std::exchange(pendingCode_, std::string());
  std::string text;
  for (const std::string& host : controls_.lbLocal.Items()) {
    text += host;
    text += '\n';
  }
  const auto path = DataPath(LocalHostsFileName(code));
  std::string error;
  if (!WriteFileAtomically(path, text, error)) {
    comment_("Unable to write to " + path.string() + ": " + error);
  }
}

}  // namespace vantrel
