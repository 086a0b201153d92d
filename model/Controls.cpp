#include "model/Controls.h"

#include <algorithm>
#include <optional>

#include "model/RecordTable.h"
#include "model/TextCut.h"
#include "model/TextNumbers.h"

namespace vantrel {

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

void TControl::SetHint(const std::string& hint) {
  if (hint_ == hint) return;
  hint_ = hint;
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
  if (text_ == cut) {
    if (cut.size() != text.size()) Changed();
    return;
  }
  text_ = std::move(cut);
  Changed();
  if (OnChange) OnChange(*this);
}

void TEdit::SetMaxLength(size_t maxLength) {
  maxLength_ = maxLength;
  if (maxLength_ > 0 && text_.size() > maxLength_) SetText(text_);
}

void TEdit::SetPasswordChar(char passwordChar) {
  if (passwordChar_ == passwordChar) return;
  passwordChar_ = passwordChar;
  Changed();
}

void TEdit::SetReadOnly(bool readOnly) {
  if (readOnly_ == readOnly) return;
  readOnly_ = readOnly;
  Changed();
}

void TLabel::Click() {
  if (Enabled() && OnClick) OnClick(*this);
}

void TButton::Click() {
  if (Enabled() && OnClick) OnClick(*this);
}

void TDBGrid::DblClick() {
  if (Enabled() && OnDblClick) OnDblClick(*this);
}

void TMemo::SetLines(const std::vector<std::string>& lines) {
  if (lines_ == lines) return;
  lines_ = lines;
  Changed();
  if (OnChange) OnChange(*this);
}

namespace {

unsigned char Lower(unsigned char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

// Byte order of the lower-cased texts.
bool LessIgnoringCase(std::string_view a, std::string_view b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return Lower(static_cast<unsigned char>(x)) < Lower(static_cast<unsigned char>(y));
  });
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return !LessIgnoringCase(a, b) && !LessIgnoringCase(b, a);
}

}  // namespace

bool TListBox::Contains(std::string_view item) const {
  auto at = std::lower_bound(
      items_.begin(), items_.end(), item,
      [](const std::string& a, std::string_view b) { return LessIgnoringCase(a, b); });
  return at != items_.end() && SameIgnoringCase(*at, item);
}

bool TListBox::Add(const std::string& item) {
  auto at = std::lower_bound(
      items_.begin(), items_.end(), item,
      [](const std::string& a, std::string_view b) { return LessIgnoringCase(a, b); });
  if (at != items_.end() && SameIgnoringCase(*at, item)) return false;
  items_.insert(at, item);
  Changed();
  return true;
}

bool TListBox::Remove(std::string_view item) {
  auto at = std::lower_bound(
      items_.begin(), items_.end(), item,
      [](const std::string& a, std::string_view b) { return LessIgnoringCase(a, b); });
  if (at == items_.end() || !SameIgnoringCase(*at, item)) return false;
  items_.erase(at);
  Changed();
  return true;
}

void TListBox::SetItems(std::vector<std::string> items) {
  std::erase_if(items, [](const std::string& item) { return item.empty(); });
  std::stable_sort(items.begin(), items.end(), [](const std::string& a, const std::string& b) {
    return LessIgnoringCase(a, b);
  });
  items.erase(std::unique(items.begin(), items.end(),
                          [](const std::string& a, const std::string& b) {
                            return SameIgnoringCase(a, b);
                          }),
              items.end());
  if (items == items_) return;
  items_ = std::move(items);
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
      nullText_(std::move(nullText)) {
  size_t start = 0;
  for (;;) {
    const size_t end = listField.find(';', start);
    listFields_.push_back(listField.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  // Unknown names fail here rather than at the first display.
  for (const auto& field : listFields_) list_.FieldIndex(field);
  listWatch_ = list_.Watch([this](TTableChange change, int) {
    switch (change) {
      case TTableChange::Reset:
      case TTableChange::RowInserted:
      case TTableChange::RowChanged:
      case TTableChange::RowRemoved: Changed(); break;
      default: break;
    }
  });
}

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
  return row ? list_.StringAt(*row, listFields_.front()) : std::string();
}

std::string TLookupCombo::KeyText(int row) const {
  const auto& key = list_.Row(row)[list_.FieldIndex(keyField_)];
  return std::holds_alternative<int32_t>(key) ? std::to_string(std::get<int32_t>(key))
                                              : std::get<std::string>(key);
}

std::vector<std::pair<std::string, std::string>> TLookupCombo::Items() const {
  std::vector<std::pair<std::string, std::string>> items;
  items.emplace_back(std::string(), nullText_);
  for (int row = 0; row < list_.RecordCount(); ++row) {
    items.emplace_back(KeyText(row), list_.StringAt(row, listFields_.front()));
  }
  return items;
}

std::vector<std::pair<std::string, std::vector<std::string>>> TLookupCombo::ItemColumns() const {
  std::vector<std::pair<std::string, std::vector<std::string>>> items;
  items.emplace_back(std::string(), std::vector<std::string>{nullText_});
  for (int row = 0; row < list_.RecordCount(); ++row) {
    std::vector<std::string> columns;
    for (const auto& field : listFields_) columns.push_back(list_.StringAt(row, field));
    items.emplace_back(KeyText(row), std::move(columns));
  }
  return items;
}

}  // namespace vantrel
