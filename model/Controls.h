#pragma once
// Toolkit-neutral controls of the main window and its dialogs. Each one holds
// the live value of a setting. Setting a value from code behaves like a
// user's change: the change event fires, but only when the value really
// changes. Views subscribe to redraw on any change of value or state.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/Notifier.h"

namespace vantrel {

class TRecordTable;

// A control's views hear of any change of its value or state.
using TNotifier = TListenerList<>;

class TControl {
 public:
  // The sender is the control itself, as the handlers expect.
  using TNotifyEvent = std::function<void(TControl& sender)>;

  explicit TControl(std::string name, std::string caption = {})
      : name_(std::move(name)), caption_(std::move(caption)) {}
  virtual ~TControl() = default;
  TControl(const TControl&) = delete;
  TControl& operator=(const TControl&) = delete;

  const std::string& Name() const { return name_; }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  bool Visible() const { return visible_; }
  void SetVisible(bool visible);
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& caption);
  intptr_t Tag() const { return tag_; }
  void SetTag(intptr_t tag);
  // The tooltip a view shows; empty for none.
  const std::string& Hint() const { return hint_; }
  void SetHint(const std::string& hint);

  // Asks the views to give this control the keyboard focus, bringing its
  // page to the front. Views compare the count with the last one they
  // served.
  void SetFocus() {
    ++focusRequests_;
    Changed();
  }
  uint64_t FocusRequests() const { return focusRequests_; }

  TNotifier& Views() { return views_; }

 protected:
  void Changed() { views_.Notify(); }

 private:
  std::string name_;
  std::string caption_;
  bool enabled_ = true;
  bool visible_ = true;
  intptr_t tag_ = 0;
  std::string hint_;
  uint64_t focusRequests_ = 0;
  TNotifier views_;
};

class TCheckBox : public TControl {
 public:
  using TControl::TControl;
  bool Checked() const { return checked_; }
  void SetChecked(bool checked);
  TNotifyEvent OnClick;

 private:
  bool checked_ = false;
};

class TEdit : public TControl {
 public:
  using TControl::TControl;
  const std::string& Text() const { return text_; }
  // A text cut to MaxLength tells the views even when the stored text stays
  // the same, so a view that shows the longer input takes the cut one back.
  void SetText(const std::string& text);
  // 0: no limit. Longer text is cut, as a bound edit refuses longer input.
  size_t MaxLength() const { return maxLength_; }
  void SetMaxLength(size_t maxLength);
  // The character shown for each one typed; '\0' shows the text itself.
  char PasswordChar() const { return passwordChar_; }
  void SetPasswordChar(char passwordChar);
  // A read-only edit still shows its text and lets it be copied; the user
  // cannot change it, code can.
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool readOnly);
  TNotifyEvent OnChange;

 private:
  std::string text_;
  size_t maxLength_ = 0;
  char passwordChar_ = '\0';
  bool readOnly_ = false;
};

// A label; a link label (its caption an address) is clicked like a button.
class TLabel : public TControl {
 public:
  using TControl::TControl;
  void Click();
  TNotifyEvent OnClick;
};

class TButton : public TControl {
 public:
  using TControl::TControl;
  // A click on a disabled button does nothing, as on screen.
  void Click();
  TNotifyEvent OnClick;
};

// A read-only record grid; the table it shows lives elsewhere. Only its
// double click is an event of the program; a view calls DblClick.
class TDBGrid : public TControl {
 public:
  using TControl::TControl;
  void DblClick();
  TNotifyEvent OnDblClick;
};

class TMemo : public TControl {
 public:
  using TControl::TControl;
  const std::vector<std::string>& Lines() const { return lines_; }
  void SetLines(const std::vector<std::string>& lines);
  TNotifyEvent OnChange;

 private:
  std::vector<std::string> lines_;
};

// A sorted list of unique texts (the host lists). Host names are compared
// ignoring ASCII case, so membership, order and duplicates all ignore case;
// an item keeps the spelling it was added with.
class TListBox : public TControl {
 public:
  using TControl::TControl;
  const std::vector<std::string>& Items() const { return items_; }
  int Count() const { return static_cast<int>(items_.size()); }
  bool Contains(std::string_view item) const;
  // False when an item equal ignoring case is already there.
  bool Add(const std::string& item);
  // False when no item equals it ignoring case.
  bool Remove(std::string_view item);
  // Replaces every item: sorted, duplicates dropped, empty texts left out.
  void SetItems(std::vector<std::string> items);
  void Clear();

 private:
  std::vector<std::string> items_;
};

// A lookup combo: its value is a key of the list table, shown by other
// fields of that table; an empty value shows the null text. listField may
// name several fields separated by ";": the drop-down shows them all as
// columns, the closed combo the first. The views hear when a record of the
// list is added, changed or removed, so they rebuild their items and the
// shown text; cursor moves and pending edits show nowhere here.
class TLookupCombo : public TControl {
 public:
  TLookupCombo(std::string name, TRecordTable& list, std::string keyField, std::string listField,
               std::string nullText);

  const std::string& Value() const { return value_; }
  void SetValue(const std::string& value);
  // What the combo shows: the null text, the listed name, or empty when the
  // value names no record.
  std::string DisplayText() const;
  // The choices a view offers, null entry first: (value, text of the first
  // list field).
  std::vector<std::pair<std::string, std::string>> Items() const;
  // The same choices with every list field; the null entry has one column.
  std::vector<std::pair<std::string, std::vector<std::string>>> ItemColumns() const;
  TNotifyEvent OnChange;

 private:
  std::string KeyText(int row) const;

  TRecordTable& list_;
  std::string keyField_;
  std::vector<std::string> listFields_;
  std::string nullText_;
  std::string value_;
  TSubscription listWatch_;
};

}  // namespace vantrel
