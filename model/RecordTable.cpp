#include "model/RecordTable.h"

#include <algorithm>
#include <utility>

#include "model/TextCut.h"

namespace vantrel {

TRecordTable::TRecordTable(std::string name, std::vector<TFieldDef> fields)
    : name_(std::move(name)), fields_(std::move(fields)) {}

size_t TRecordTable::FieldIndex(const std::string& field) const {
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (fields_[i].name == field) return i;
  }
  throw ETableError(name_ + ": field '" + field + "' not found");
}

TRecord TRecordTable::EmptyRecord() const {
  TRecord record;
  record.reserve(fields_.size());
  for (const auto& f : fields_) {
    switch (f.type) {
      case TFieldType::Integer: record.emplace_back(int32_t{0}); break;
      case TFieldType::Text: record.emplace_back(std::string()); break;
      case TFieldType::Boolean: record.emplace_back(false); break;
    }
  }
  return record;
}

void TRecordTable::CheckBrowseMode() {
  if (state_ != TDataSetState::Browse) Post();
}

void TRecordTable::SetState(TDataSetState state) {
  state_ = state;
  Notify(TTableChange::StateChanged, cursor_);
}

void TRecordTable::Notify(TTableChange change, int row) {
  if (disabled_ > 0) {
    Announce(TTableChange::AboutToReset, -1);
    return;
  }
  listeners_.Notify(change, row);
}

void TRecordTable::Announce(TTableChange change, int row) {
  if (disabled_ > 0) {
    if (missed_) return;
    missed_ = true;
    change = TTableChange::AboutToReset;
    row = -1;
  }
  listeners_.Notify(change, row);
}

void TRecordTable::MoveTo(int row) {
  CheckBrowseMode();
  if (rows_.empty()) {
    cursor_ = -1;
  } else {
    cursor_ = std::clamp(row, 0, RecordCount() - 1);
  }
  Notify(TTableChange::CursorMoved, cursor_);
}

void TRecordTable::First() {
  MoveTo(0);
}
void TRecordTable::Last() {
  MoveTo(RecordCount() - 1);
}
void TRecordTable::Next() {
  MoveTo(cursor_ + 1);
}
void TRecordTable::Prior() {
  MoveTo(cursor_ - 1);
}

std::optional<int> TRecordTable::Find(const std::string& field, const TFieldValue& value) const {
  const size_t index = FieldIndex(field);
  for (size_t row = 0; row < rows_.size(); ++row) {
    if (rows_[row][index] == value) return static_cast<int>(row);
  }
  return std::nullopt;
}

bool TRecordTable::Locate(const std::string& field, const TFieldValue& value) {
  CheckBrowseMode();
  const auto row = Find(field, value);
  if (!row) return false;
  MoveTo(*row);
  return true;
}

void TRecordTable::Append() {
  CheckBrowseMode();
  cursorBeforeInsert_ = cursor_;
  pending_ = EmptyRecord();
  cursor_ = RecordCount();
  SetState(TDataSetState::Insert);
}

bool TRecordTable::Edit() {
  if (state_ != TDataSetState::Browse) return true;
  if (cursor_ < 0) return false;
  pending_ = rows_[static_cast<size_t>(cursor_)];
  SetState(TDataSetState::Edit);
  return true;
}

void TRecordTable::Post() {
  switch (state_) {
    case TDataSetState::Browse: return;
    case TDataSetState::Edit:
      rows_[static_cast<size_t>(cursor_)] = std::move(pending_);
      pending_.clear();
      state_ = TDataSetState::Browse;
      Notify(TTableChange::RowChanged, cursor_);
      break;
    case TDataSetState::Insert:
      Announce(TTableChange::RowAboutToBeInserted, RecordCount());
      rows_.push_back(std::move(pending_));
      pending_.clear();
      state_ = TDataSetState::Browse;
      cursor_ = RecordCount() - 1;
      Notify(TTableChange::RowInserted, cursor_);
      break;
  }
  Notify(TTableChange::StateChanged, cursor_);
}

void TRecordTable::Cancel() {
  if (state_ == TDataSetState::Browse) return;
  if (state_ == TDataSetState::Insert) {
    cursor_ = rows_.empty() ? -1 : std::clamp(cursorBeforeInsert_, 0, RecordCount() - 1);
  }
  pending_.clear();
  SetState(TDataSetState::Browse);
}

void TRecordTable::Delete() {
  if (state_ == TDataSetState::Insert) {
    Cancel();
    return;
  }
  if (state_ == TDataSetState::Edit) Cancel();
  if (cursor_ < 0) return;
  const int removed = cursor_;
  Announce(TTableChange::RowAboutToBeRemoved, removed);
  rows_.erase(rows_.begin() + removed);
  if (cursor_ >= RecordCount()) cursor_ = RecordCount() - 1;
  Notify(TTableChange::RowRemoved, removed);
  Notify(TTableChange::CursorMoved, cursor_);
}

void TRecordTable::EmptyTable() {
  Announce(TTableChange::AboutToReset, -1);
  pending_.clear();
  rows_.clear();
  state_ = TDataSetState::Browse;
  cursor_ = -1;
  Notify(TTableChange::Reset, -1);
}

const TRecord* TRecordTable::Current() const {
  if (state_ != TDataSetState::Browse) return &pending_;
  if (cursor_ < 0) return nullptr;
  return &rows_[static_cast<size_t>(cursor_)];
}

int32_t TRecordTable::AsInteger(const std::string& field) const {
  const size_t index = FieldIndex(field);
  const TRecord* record = Current();
  return record ? std::get<int32_t>((*record)[index]) : 0;
}

std::string TRecordTable::AsString(const std::string& field) const {
  const size_t index = FieldIndex(field);
  const TRecord* record = Current();
  if (!record) return {};
  const auto& value = (*record)[index];
  if (auto* text = std::get_if<std::string>(&value)) return *text;
  if (auto* number = std::get_if<int32_t>(&value)) return std::to_string(*number);
  return std::get<bool>(value) ? "True" : "False";
}

bool TRecordTable::AsBoolean(const std::string& field) const {
  const size_t index = FieldIndex(field);
  const TRecord* record = Current();
  return record ? std::get<bool>((*record)[index]) : false;
}

int32_t TRecordTable::IntegerAt(int row, const std::string& field) const {
  return std::get<int32_t>(Row(row)[FieldIndex(field)]);
}

std::string TRecordTable::StringAt(int row, const std::string& field) const {
  return std::get<std::string>(Row(row)[FieldIndex(field)]);
}

bool TRecordTable::BooleanAt(int row, const std::string& field) const {
  return std::get<bool>(Row(row)[FieldIndex(field)]);
}

void TRecordTable::SetField(const std::string& field, TFieldValue value) {
  if (state_ == TDataSetState::Browse) {
    throw ETableError(name_ + ": not in edit or insert mode");
  }
  const size_t index = FieldIndex(field);
  if (pending_[index].index() != value.index()) {
    throw ETableError(name_ + ": wrong type for field '" + field + "'");
  }
  pending_[index] = std::move(value);
  Notify(TTableChange::StateChanged, cursor_);
}

void TRecordTable::SetInteger(const std::string& field, int32_t value) {
  SetField(field, value);
}

void TRecordTable::SetString(const std::string& field, const std::string& value) {
  const size_t width = fields_[FieldIndex(field)].size;
  SetField(field, std::string(width > 0 ? CutToWidth(value, width) : std::string_view(value)));
}

void TRecordTable::SetBoolean(const std::string& field, bool value) {
  SetField(field, value);
}

void TRecordTable::DisableControls() {
  ++disabled_;
}

void TRecordTable::EnableControls() {
  if (disabled_ == 0) return;
  if (--disabled_ == 0 && missed_) {
    missed_ = false;
    Notify(TTableChange::Reset, cursor_);
  }
}

int TRecordTable::Subscribe(Listener listener) {
  return listeners_.Subscribe(std::move(listener));
}

void TRecordTable::Unsubscribe(int token) {
  listeners_.Unsubscribe(token);
}

TSubscription TRecordTable::Watch(Listener listener) {
  return listeners_.Watch(std::move(listener));
}

}  // namespace vantrel
