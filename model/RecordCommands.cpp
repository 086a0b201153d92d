#include "model/RecordCommands.h"

namespace vantrel {

TRecordCommands::TRecordCommands(TRecordTable& table, TChangeTracker& changes, TUserInterface& ui,
                                 DialogFactory dialog)
    : table_(table), changes_(changes), ui_(ui), dialog_(std::move(dialog)) {}

bool TRecordCommands::RunDialog() {
  try {
    std::unique_ptr<TRecordDialog> dialog = dialog_(table_, ui_);
    if (dialog->ShowModal() == TModalResult::Ok) {
      table_.Post();
      return true;
    }
    table_.Cancel();
    return false;
  } catch (...) {
    table_.Cancel();
    throw;
  }
}

void TRecordCommands::Add(const std::function<void(TRecordTable& table)>& fill) {
  table_.Append();
  try {
    fill(table_);
  } catch (...) {
    table_.Cancel();
    throw;
  }
  if (RunDialog()) changes_.SetChanged(true);
}

void TRecordCommands::Edit() {
  if (table_.IsEmpty() || !table_.Edit()) return;
  if (RunDialog()) changes_.SetChanged(true);
}

void TRecordCommands::Delete(
    const std::function<std::string(const TRecordTable& table)>& question) {
  if (table_.IsEmpty()) return;
  if (ui_.Confirm(question(table_)) != TAnswer::Yes) return;
  table_.Delete();
  changes_.SetChanged(true);
}

}  // namespace vantrel
