#include "config/Controls.h"

#include <algorithm>
#include <optional>

#include "config/RecordTable.h"
#include "config/TextCut.h"
#include "config/TextNumbers.h"

namespace vantrel {

int TNotifier::Subscribe(Listener listener) {
  const int token = next_++;
  listeners_.emplace(token, std::move(listener));
  return token;
}

void TNotifier::Unsubscribe(int token) {
  listeners_.erase(token);
}

void TNotifier::Notify() const {
  // Copy: a view may unsubscribe from inside its own notification.
  auto listeners = listeners_;
  for (auto& [token, listener] : listeners) listener();
}

void TControl::SetEnabled(bool enabled) {
  if (enabled_ == enabled) return;
  enabled_ = enabled;
  Changed();
}

void TControl::SetVisible(bool visible) {
  if (visible_ == visible) return;
  visible_ = visible;
  Changed();
}

void TControl::SetCaption(const std::string& caption) {
  if (caption_ == caption) return;
  caption_ = caption;
  Changed();
}

void TControl::SetTag(intptr_t tag) {
  if (tag_ == tag) return;
  tag_ = tag;
  Changed();
}

void TCheckBox::SetChecked(bool checked) {
  if (checked_ == checked) return;
  checked_ = checked;
  Changed();
  if (OnClick) OnClick(*this);
}

void TEdit::SetText(const std::string& text) {
  std::string cut(maxLength_ > 0 ? CutToWidth(text, maxLength_) : std::string_view(text));
  if (text_ == cut) return;
  text_ = std::move(cut);
  Changed();
  if (OnChange) OnChange(*this);
}

void TEdit::SetMaxLength(size_t maxLength) {
  maxLength_ = maxLength;
  if (maxLength_ > 0 && text_.size() > maxLength_) SetText(text_);
}

void TButton::Click() {
  if (Enabled() && OnClick) OnClick(*this);
}

void TMemo::SetLines(const std::vector<std::string>& lines) {
  if (lines_ == lines) return;
  lines_ = lines;
  Changed();
  if (OnChange) OnChange(*this);
}

bool TListBox::Contains(const std::string& item) const {
  return std::binary_search(items_.begin(), items_.end(), item);
}

void TListBox::Add(const std::string& item) {
  auto at = std::lower_bound(items_.begin(), items_.end(), item);
  if (at != items_.end() && *at == item) return;
  items_.insert(at, item);
  Changed();
}

void TListBox::Clear() {
  if (items_.empty()) return;
  items_.clear();
  Changed();
}

TLookupCombo::TLookupCombo(std::string name, TRecordTable& list, std::string keyField,
                           std::string listField, std::string nullText)
    : TControl(std::move(name)),
      list_(list),
      keyField_(std::move(keyField)),
      listField_(std::move(listField)),
      nullText_(std::move(nullText)) {}

void TLookupCombo::SetValue(const std::string& value) {
  if (value_ == value) return;
  value_ = value;
  Changed();
  if (OnChange) OnChange(*this);
}

namespace {

// The key as the table stores it; nullopt when the text cannot be a key.
std::optional<TFieldValue> KeyValue(const TRecordTable& table, const std::string& field,
                                    const std::string& text) {
  const auto& def = table.Fields()[table.FieldIndex(field)];
  if (def.type == TFieldType::Text) return TFieldValue(text);
  if (def.type == TFieldType::Integer) {
    const auto number = ParseInt32(text);
    if (!number) return std::nullopt;
    return TFieldValue(*number);
  }
  return std::nullopt;
}

}  // namespace

std::string TLookupCombo::DisplayText() const {
  if (value_.empty()) return nullText_;
  const auto key = KeyValue(list_, keyField_, value_);
  if (!key) return {};
  const auto row = list_.Find(keyField_, *key);
  return row ? list_.StringAt(*row, listField_) : std::string();
}

std::vector<std::pair<std::string, std::string>> TLookupCombo::Items() const {
  std::vector<std::pair<std::string, std::string>> items;
  items.emplace_back(std::string(), nullText_);
  for (int row = 0; row < list_.RecordCount(); ++row) {
    const auto& key = list_.Row(row)[list_.FieldIndex(keyField_)];
    std::string keyText = std::holds_alternative<int32_t>(key)
                              ? std::to_string(std::get<int32_t>(key))
                              : std::get<std::string>(key);
    items.emplace_back(std::move(keyText), list_.StringAt(row, listField_));
  }
  return items;
}

}  // namespace vantrel
