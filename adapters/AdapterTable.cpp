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
      token_(dataSet.Subscribe([this](TTableChange change, int row) { Forward(change, row); })) {}

TDataSource::~TDataSource() {
  dataSet_.Unsubscribe(token_);
}

void TDataSource::SetEnabled(bool enabled) {
  if (enabled_ == enabled) return;
  enabled_ = enabled;
  if (enabled_) Forward(TTableChange::Reset, dataSet_.RecNo());
}

int TDataSource::Subscribe(TRecordTable::Listener listener) {
  const int token = next_++;
  views_.emplace(token, std::move(listener));
  return token;
}

void TDataSource::Unsubscribe(int token) {
  views_.erase(token);
}

void TDataSource::Forward(TTableChange change, int row) {
  if (!enabled_) return;
  // Copy: a view may unsubscribe while we walk.
  auto views = views_;
  for (auto& [token, view] : views) view(change, row);
}

}  // namespace vantrel
