#pragma once
// Add, Edit and Delete of a record grid, shared by the proxy and the tunnel
// pages: each shows its own dialog on the table's pending record, posts on
// "Ok" and marks the configuration changed.

#include <functional>
#include <memory>
#include <string>

#include "model/ChangeTracker.h"
#include "model/RecordDialogs.h"
#include "model/RecordTable.h"
#include "model/UserInterface.h"

namespace vantrel {

class TRecordCommands {
 public:
  using DialogFactory =
      std::function<std::unique_ptr<TRecordDialog>(TRecordTable& table, TUserInterface& ui)>;

  TRecordCommands(TRecordTable& table, TChangeTracker& changes, TUserInterface& ui,
                  DialogFactory dialog);

  // Appends a record, lets fill set its first values, then shows the dialog.
  void Add(const std::function<void(TRecordTable& table)>& fill);
  // With an empty table, nothing.
  void Edit();
  // With an empty table, nothing; otherwise asks the question first.
  void Delete(const std::function<std::string(const TRecordTable& table)>& question);

 private:
  // Posts on Ok, cancels otherwise, and never leaves the table half edited
  // when something throws.
  bool RunDialog();

  TRecordTable& table_;
  TChangeTracker& changes_;
  TUserInterface& ui_;
  DialogFactory dialog_;
};

}  // namespace vantrel
