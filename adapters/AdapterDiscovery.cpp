#include "adapters/AdapterDiscovery.h"

#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "adapters/AdapterTable.h"
#include "files/DataFolder.h"
#include "hosts/DataFiles.h"

namespace vantrel {

namespace {

// Restores the table's links to views however the refresh ends.
class SuspendedLinks {
 public:
  explicit SuspendedLinks(TRecordTable& table) : table_(table) { table_.DisableControls(); }
  ~SuspendedLinks() { table_.EnableControls(); }
  SuspendedLinks(const SuspendedLinks&) = delete;
  SuspendedLinks& operator=(const SuspendedLinks&) = delete;

 private:
  TRecordTable& table_;
};

}  // namespace

TAdapterDiscovery::TAdapterDiscovery(TAdapterSource& source, TRecordTable& mtblAdapters,
                                     std::function<void()> settingsChanged)
    : source_(source), table_(mtblAdapters), settingsChanged_(std::move(settingsChanged)) {}

void TAdapterDiscovery::StartUp() {
  current_.clear();
  BuildAdapterList(current_);
  RefreshAdapterTable(current_);
}

int TAdapterDiscovery::BuildAdapterList(AdapterList& list) {
  list.clear();
  std::vector<AdapterRecord> records;
  const int code = source_.GetAdapterInfoList(records);
  if (code != 0) return code;
  list.reserve(records.size());
  for (const AdapterRecord& record : records) list.push_back(MakeAdapterEntry(record));
  return 0;
}

bool TAdapterDiscovery::Changed(const AdapterList& current, const AdapterList& fresh) {
  if (current.size() != fresh.size()) return true;
  for (size_t i = 0; i < current.size(); ++i) {
    if (current[i].name != fresh[i].name) return true;
  }
  return false;
}

bool TAdapterDiscovery::Timer1Timer() {
  if (tag_ == 1) return false;
  tag_ = 1;
  struct ResetTag {
    int& tag;
    ~ResetTag() { tag = 0; }
  } reset{tag_};

  AdapterList fresh;
  // A failed query says nothing about the adapters: comparing its empty
  // list would record a change that never happened.
  if (BuildAdapterList(fresh) != 0) return true;
  if (!Changed(current_, fresh)) return true;
  current_ = std::move(fresh);
  RefreshAdapterTable(current_);
  return true;
}

void TAdapterDiscovery::ReadFileRows() {
  using namespace adapter_fields;
  const auto path = DataPath(kAdaptersFile);
  std::error_code missing;
  if (!std::filesystem::exists(path, missing)) return;
  std::string data;
  std::string error;
  if (!ReadWholeFile(path, data, error)) {
    throw EAdapterFileError(ReadFailureText(path, error));
  }
  for (std::string_view line : SplitLines(data)) {
    const size_t close = line.find("},");
    if (line.empty() || line.front() != '{' || close == std::string_view::npos) continue;
    table_.Append();
    table_.SetString(AdapterName, std::string(line.substr(0, close + 1)));
    table_.SetString(Description, std::string(line.substr(close + 2)));
    table_.Post();
  }
}

void TAdapterDiscovery::WriteFile() {
  using namespace adapter_fields;
  std::string data;
  for (int row = 0; row < table_.RecordCount(); ++row) {
    data += table_.StringAt(row, AdapterName);
    data += ',';
    data += table_.StringAt(row, Description);
    data += '\n';
  }
  const auto path = DataPath(kAdaptersFile);
  std::string error;
  // An existing file keeps its mode; a new one gets the umask's.
  if (!WriteFileAtomically(path, data, error, kKeepMode)) {
    throw EAdapterFileError("Cannot write " + path.string() + ": " + error);
  }
}

void TAdapterDiscovery::RefreshAdapterTable(const AdapterList& list) {
  using namespace adapter_fields;
  {
    SuspendedLinks links(table_);
    table_.EmptyTable();
    ReadFileRows();
    for (const AdapterEntry& entry : list) {
      if (table_.Locate(AdapterName, entry.name)) {
        table_.Edit();
      } else {
        table_.Append();
      }
      table_.SetString(AdapterName, entry.name);
      table_.SetString(Description, entry.description);
      table_.SetString(IPAddress, entry.address);
      table_.Post();
    }
    WriteFile();
  }
  if (settingsChanged_) settingsChanged_();
}

}  // namespace vantrel
