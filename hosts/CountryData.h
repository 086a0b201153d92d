#pragma once
// The data behind "local": the country list of "Local Country:", the chosen
// country's address ranges from GeoIPCountryWhoIs.csv, and per country the
// file of host names already found local (localhosts_<CC>.dat), all in the
// data folder. A missing or unreadable file never stops anything; what
// happened is said in one log line.

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "model/Controls.h"
#include "model/MainControls.h"
#include "model/NextHopRecords.h"
#include "model/RecordTable.h"
#include "hosts/CountryImport.h"
#include "hosts/LocalRanges.h"
#include "net/EventLoop.h"

namespace vantrel {

// A message line shown whatever the screen-log setting.
using TCommentSink = std::function<void(const std::string& message)>;

class TCountryData {
 public:
  static constexpr const char* kDefaultCountryCode = "ZA";
  static constexpr const char* kCountryListFile = "countries.dat";
  static constexpr const char* kRangesFile = "GeoIPCountryWhoIs.csv";

  TCountryData(TMainControls& controls, TRecordTable& mtblCountries, TLocalRanges& ranges,
               TNextHopRecords& nextHops, TCommentSink comment);
  // A save still pending is written.
  ~TCountryData();
  TCountryData(const TCountryData&) = delete;
  TCountryData& operator=(const TCountryData&) = delete;

  // At start, before LoadCountryList: without GeoIPCountryWhoIs.csv in the
  // data folder, imports TorGeoipFile once, as the import command would
  // (countries.dat too when missing), and logs the command's summary or why
  // it failed. Returns whether it imported.
  bool ImportMissingCountryData();
  // Fills the country table from countries.dat, or with South Africa alone
  // when there is no such file.
  void LoadCountryList();
  // Rebuilds the local-range table for a country and says how it went.
  void LoadCountryRanges(const std::string& code);
  // The change event of "Local Country:".
  void jvdbCountryChange(TControl& sender);
  // lbLocal from the country's local-host file, or empty without one.
  void LoadLocalHostsFile(const std::string& code);
  // Writes lbLocal to the country's local-host file: soon, from the loop,
  // not now. A burst of new hosts costs one write, and no request waits for
  // the disk. Only for a code of two letters or digits, and only for the
  // country whose ranges are loaded: hosts found by one country's ranges
  // never go into another's file. A failure is logged and goes no further.
  void SaveLocalHostsFile(const std::string& code);
  // Writes a pending save now: before lbLocal is reloaded or emptied, on
  // SIGHUP and at exit.
  void FlushLocalHostsFile();
  // The file ImportMissingCountryData imports (empty: none), and the one the
  // missing-file line tells the user to import.
  std::filesystem::path TorGeoipFile = routing::TorGeoipFile();
  // Where that import finds the countries' names.
  std::filesystem::path IsoCodesFile = routing::kIsoCodesFile;
  // How long a save waits for more hosts.
  std::chrono::milliseconds LocalHostsDelay{3000};

  // The country LoadCountryRanges last loaded.
  const std::string& RangesCountry() const { return rangesCountry_; }
  static std::string LocalHostsFileName(const std::string& code);

 private:
  std::string CountryLabel(const std::string& code) const;
  // The text of a data file; after a failed read, logged, its complete
  // lines, and false.
  bool ReadText(const std::filesystem::path& path, std::string& data, std::string_view& text);

  TMainControls& controls_;
  TRecordTable& mtblCountries_;
  TLocalRanges& ranges_;
  TNextHopRecords& nextHops_;
  TCommentSink comment_;
  std::string rangesCountry_;
  bool rangesLoaded_ = false;
  // The country whose file waits to be written; empty when none does.
  std::string pendingCode_;
  net::EventLoop::TimerId flushTimer_ = 0;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace vantrel
