#pragma once
// An in-memory record table: ordered records with fixed fields, a cursor on
// one current record, and browse/edit/insert states. Edits go to a pending
// buffer that Post commits and Cancel drops, so a dialog can be abandoned
// without leaving a trace. Views subscribe to its notifications.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "model/Notifier.h"

namespace vantrel {

enum class TFieldType { Integer, Text, Boolean };

struct TFieldDef {
  std::string name;
  TFieldType type;
  size_t size = 0;  // width of a text field; longer text is cut
};

using TFieldValue = std::variant<int32_t, std::string, bool>;
using TRecord = std::vector<TFieldValue>;

enum class TDataSetState { Browse, Edit, Insert };

// Misuse of the table (writing in browse state, an unknown field name).
class ETableError : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

// A view that mirrors the rows hears of a structural change before it
// happens and again after, so it can keep its selection right: every
// RowInserted follows a RowAboutToBeInserted with the same row, every
// RowRemoved a RowAboutToBeRemoved, every Reset an AboutToReset.
enum class TTableChange {
  Reset,                 // everything may have changed
  RowInserted,           // row: index of the new committed row
  RowChanged,            // row: index of the changed committed row
  RowRemoved,            // row: index the row had
  CursorMoved,           // row: new current index, -1 for none
  StateChanged,          // browse/edit/insert, or the pending record's fields
  AboutToReset,          // row: -1; the rows are still the old ones
  RowAboutToBeInserted,  // row: index the new row will have
  RowAboutToBeRemoved,   // row: index of the row still there
};

class TRecordTable {
 public:
  using Listener = std::function<void(TTableChange change, int row)>;

  TRecordTable(std::string name, std::vector<TFieldDef> fields);

  const std::string& Name() const { return name_; }
  const std::vector<TFieldDef>& Fields() const { return fields_; }
  size_t FieldIndex(const std::string& field) const;

  TDataSetState State() const { return state_; }
  // Committed records only; a record being inserted is not counted.
  int RecordCount() const { return static_cast<int>(rows_.size()); }
  bool IsEmpty() const { return rows_.empty(); }
  // Index of the current record, -1 when there is none. While inserting it
  // is RecordCount(): the new record sits behind the last one.
  int RecNo() const { return cursor_; }

  // Cursor moves post a pending edit or insertion first.
  void First();
  void Last();
  void Next();
  void Prior();
  void MoveTo(int row);
  // Finds the first record whose field holds the value and makes it current.
  bool Locate(const std::string& field, const TFieldValue& value);
  // The same search without moving the cursor.
  std::optional<int> Find(const std::string& field, const TFieldValue& value) const;

  // Starts a new record at the end, fields empty, 0 and false.
  void Append();
  // Starts editing the current record; false when there is none.
  bool Edit();
  void Post();
  void Cancel();
  // Browse: removes the current record. Insert: drops the new record.
  // Edit: drops the edit and removes the record.
  void Delete();
  // Drops every record and any pending edit.
  void EmptyTable();

  // Reads the current record (the pending one while editing or inserting).
  // With no current record, reads give 0, empty text and false.
  int32_t AsInteger(const std::string& field) const;
  std::string AsString(const std::string& field) const;
  bool AsBoolean(const std::string& field) const;
  // A committed record, for grids and lookups.
  const TRecord& Row(int row) const { return rows_.at(static_cast<size_t>(row)); }
  int32_t IntegerAt(int row, const std::string& field) const;
  std::string StringAt(int row, const std::string& field) const;
  bool BooleanAt(int row, const std::string& field) const;

  // Writes to the pending record; only while editing or inserting.
  void SetInteger(const std::string& field, int32_t value);
  void SetString(const std::string& field, const std::string& value);
  void SetBoolean(const std::string& field, bool value);

  // Suspends notifications to views: the first change meanwhile sends
  // AboutToReset (before it when it is a row insertion or removal), and the
  // last EnableControls then sends one Reset.
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const { return disabled_ > 0; }

  int Subscribe(Listener listener);
  void Unsubscribe(int token);
  [[nodiscard]] TSubscription Watch(Listener listener);

 private:
  void CheckBrowseMode();
  void SetState(TDataSetState state);
  void Notify(TTableChange change, int row);
  // Said before the rows change; while suspended, the one AboutToReset.
  void Announce(TTableChange change, int row);
  void SetField(const std::string& field, TFieldValue value);
  const TRecord* Current() const;
  TRecord EmptyRecord() const;

  std::string name_;
  std::vector<TFieldDef> fields_;
  std::vector<TRecord> rows_;
  TRecord pending_;
  TDataSetState state_ = TDataSetState::Browse;
  int cursor_ = -1;
  int cursorBeforeInsert_ = -1;
  int disabled_ = 0;
  bool missed_ = false;
  TListenerList<TTableChange, int> listeners_;
};

}  // namespace vantrel
