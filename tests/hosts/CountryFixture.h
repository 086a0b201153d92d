#pragma once
// The country data and host lists on a data folder of the test's own.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "model/ChangeTracker.h"
#include "model/CountryTable.h"
#include "files/DataFolder.h"
#include "model/MainControls.h"
#include "model/NextHopRecords.h"
#include "model/ProxyTables.h"
#include "hosts/CountryData.h"
#include "hosts/HostClassification.h"
#include "hosts/LocalRanges.h"
#include "tests/support/ScratchFolder.h"

namespace vantrel {

namespace fs = std::filesystem;

class CountryFixture {
 protected:
  void Write(const std::string& name, const std::string& text) { scratch.Write(name, text); }
  std::string Read(const std::string& name) const { return scratch.Read(name); }
  // Names in the folder other than the given ones: stray temporary files.
  std::vector<std::string> FolderNames() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  static std::string CsvLine(const char* firstDotted, const char* lastDotted, uint32_t first,
                             uint32_t last, const char* code, const char* name) {
    return std::string("\"") + firstDotted + "\",\"" + lastDotted + "\",\"" +
           std::to_string(first) + "\",\"" + std::to_string(last) + "\",\"" + code + "\",\"" +
           name + "\"\n";
  }

  testsupport::ScratchFolder scratch{"vantrel-country"};
  fs::path folder = scratch.Path();
  std::vector<std::string> comments;
  TRecordTable mtblProxy = CreateProxyTable();
  TRecordTable mtblCountries = CreateCountryTable();
  TMainControls controls{mtblProxy, mtblCountries};
  TChangeTracker changes{controls};
  TNextHopRecords nextHops{controls, mtblProxy, changes};
  TLocalRanges ranges;
  TCountryData countries{controls, mtblCountries, ranges, nextHops,
                         [this](const std::string& message) { comments.push_back(message); }};
  THostClassification hosts{controls, ranges, countries,
                            [this](const std::string& message) { comments.push_back(message); }};
};

}  // namespace vantrel
