#include "adapters/AdapterTable.h"

#include <utility>
#include <vector>

namespace vantrel {

TRecordTable CreateAdapterTable() {
  using namespace adapter_fields;
  return TRecordTable("mtblAdapters", std::vector<TFieldDef>{
                                          {AdapterName, TFieldType::Text, 40},
                                          {Description, TFieldType::Text, 80},
                                          {IPAddress, TFieldType::Text, 25},
                                      });
}

TDataSource::TDataSource(TRecordTable& dataSet)
    : dataSet_(dataSet),
      watch_(dataSet.Watch([this](TTableChange change, int row) { Forward(change, row); })) {}

TDataSource::~TDataSource() = default;

void TDataSource::SetEnabled(bool enabled) {
  if (enabled_ == enabled) return;
  enabled_ = enabled;
  if (!enabled_) return;
  views_.Notify(TTableChange::AboutToReset, -1);
  views_.Notify(TTableChange::Reset, dataSet_.RecNo());
}

int TDataSource::Subscribe(TRecordTable::Listener listener) {
  return views_.Subscribe(std::move(listener));
}

void TDataSource::Unsubscribe(int token) {
  views_.Unsubscribe(token);
}

TSubscription TDataSource::Watch(TRecordTable::Listener listener) {
  return views_.Watch(std::move(listener));
}

void TDataSource::Forward(TTableChange change, int row) {
  if (enabled_) views_.Notify(change, row);
}

}  // namespace vantrel
