#pragma once
// The adapter record: the current adapter list, the table of every adapter
// ever seen and adapters.dat beside the other data files. Rows never leave
// the table or the file.

#include <functional>
#include <stdexcept>
#include <string>

#include "adapters/AdapterRecord.h"
#include "adapters/AdapterSource.h"
#include "model/RecordTable.h"

namespace vantrel {

inline constexpr const char* kAdaptersFile = "adapters.dat";

// A read or write of adapters.dat failed; the refresh ended there.
class EAdapterFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TAdapterDiscovery {
 public:
  // settingsChanged: run after every refresh (the next hops' refresh; an
  // adapter is no setting, so it marks nothing changed).
  TAdapterDiscovery(TAdapterSource& source, TRecordTable& mtblAdapters,
                    std::function<void()> settingsChanged);

  // Start-up: the current list from the system, merged into the table and
  // the file. A failed query leaves the list empty; the file's rows are
  // still loaded and written back.
  void StartUp();

  // Empties list and fills it with one entry per adapter. Answers the
  // source's code; on failure the list stays empty.
  int BuildAdapterList(AdapterList& list);

  // Merges a list into the table: the file's rows first, then one row per
  // entry (edited when its name is there, appended otherwise); then the
  // file is replaced and the settings-changed step runs. A file that cannot
  // be read or written throws EAdapterFileError.
  void RefreshAdapterTable(const AdapterList& list);

  // One look at the system: refreshes when the count or the name at some
  // index changed. A failed query changes nothing. Answers false when a
  // previous run was still in progress and this one did nothing.
  bool Timer1Timer();

  const AdapterList& CurrentList() const { return current_; }
  // 1 while a run is in progress.
  int Timer1Tag() const { return tag_; }

 private:
  static bool Changed(const AdapterList& current, const AdapterList& fresh);
  void ReadFileRows();
  void WriteFile();

  TAdapterSource& source_;
  TRecordTable& table_;
  std::function<void()> settingsChanged_;
  AdapterList current_;
  int tag_ = 0;
};

}  // namespace vantrel
