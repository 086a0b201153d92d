#pragma once
// The adapter table mtblAdapters, with its field names, and the data source
// that links it to views.

#include <functional>
#include <map>

#include "model/RecordTable.h"

namespace vantrel {

namespace adapter_fields {
inline constexpr const char* AdapterName = "AdapterName";
inline constexpr const char* Description = "Description";
inline constexpr const char* IPAddress = "IPAddress";
}  // namespace adapter_fields

TRecordTable CreateAdapterTable();  // mtblAdapters

// The link between a table and the views bound to it: a view subscribes
// here and hears the table's changes while the source is enabled.
class TDataSource {
 public:
  explicit TDataSource(TRecordTable& dataSet);
  ~TDataSource();
  TDataSource(const TDataSource&) = delete;
  TDataSource& operator=(const TDataSource&) = delete;

  TRecordTable& DataSet() const { return dataSet_; }
  bool Enabled() const { return enabled_; }
  // Enabling again tells every view to redraw from scratch.
  void SetEnabled(bool enabled);

  int Subscribe(TRecordTable::Listener listener);
  void Unsubscribe(int token);
  [[nodiscard]] TSubscription Watch(TRecordTable::Listener listener);

 private:
  void Forward(TTableChange change, int row);

  TRecordTable& dataSet_;
  TListenerList<TTableChange, int> views_;
  TSubscription watch_;
  bool enabled_ = true;
};

}  // namespace vantrel
