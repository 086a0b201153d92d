#pragma once
// A private data folder, an adapter table and a source the test controls.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "adapters/AdapterDiscovery.h"
#include "adapters/AdapterSource.h"
#include "adapters/AdapterTable.h"
#include "files/DataFolder.h"

namespace vantrel {

class TScriptedAdapterSource : public TAdapterSource {
 public:
  int GetAdapterInfoList(std::vector<AdapterRecord>& list) override {
    ++queries;
    list.clear();
    if (failure != 0) return failure;
    list = records;
    return 0;
  }

  std::vector<AdapterRecord> records;
  int failure = 0;
  int queries = 0;
};

using TableRow = std::tuple<std::string, std::string, std::string>;

class AdapterFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vantrel-adapters-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    folder = pattern;
    SetDataFolder(folder);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }

  std::filesystem::path FilePath() const { return folder / kAdaptersFile; }
  void WriteFile(const std::string& text) const {
    std::ofstream(FilePath(), std::ios::binary) << text;
  }
  std::string ReadFile() const {
    std::ifstream file(FilePath(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }
  std::vector<TableRow> Rows() const {
    using namespace adapter_fields;
    std::vector<TableRow> rows;
    for (int row = 0; row < mtblAdapters.RecordCount(); ++row) {
      rows.emplace_back(mtblAdapters.StringAt(row, AdapterName),
                        mtblAdapters.StringAt(row, Description),
                        mtblAdapters.StringAt(row, IPAddress));
    }
    return rows;
  }

  std::filesystem::path folder;
  TScriptedAdapterSource source;
  TRecordTable mtblAdapters = CreateAdapterTable();
  int settingsChanged = 0;
  std::function<void()> onSettingsChanged;
  TAdapterDiscovery discovery{source, mtblAdapters, [this] {
                                ++settingsChanged;
                                if (onSettingsChanged) onSettingsChanged();
                              }};
};

}  // namespace vantrel
