#pragma once
// The modal dialogs that edit one record of the proxy or the tunnel table.
// Their edits are bound to the table's current record, which the caller has
// put into edit or insert state; the caller posts or cancels afterwards.
// "Ok" refuses values that would end the record list in the configuration
// file or be lost there (a blank name, a port outside 1 to 65535), control
// characters in text, which the file cannot hold on one line, and text that
// is not a number in a number field; the dialog then stays open.

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "model/Controls.h"
#include "model/RecordTable.h"
#include "model/UserInterface.h"

namespace vantrel {

class TRecordDialog {
 public:
  TRecordDialog(std::string caption, TRecordTable& table, TUserInterface& ui);
  virtual ~TRecordDialog() = default;
  TRecordDialog(const TRecordDialog&) = delete;
  TRecordDialog& operator=(const TRecordDialog&) = delete;

  const std::string& Caption() const { return caption_; }
  TModalResult ModalResult() const { return modalResult_; }
  // Closing the window any way other than the buttons counts as Cancel.
  void Close();
  TModalResult ShowModal();
  // Fired when the result becomes Ok or Cancel, once per showing: a view
  // closes its window then.
  std::function<void(TModalResult)> OnResult;

  void Button1Click(TControl& sender);  // "Ok"
  void Button2Click(TControl& sender);  // "Cancel"
  TButton Button1{"Button1", "Ok"};
  TButton Button2{"Button2", "Cancel"};

 protected:
  // Binds a text edit to a text field: it shows the record's value and
  // writes every change straight into the pending record.
  void BindText(TEdit& edit, const char* field);
  // A number field is written when its text is a number; Ok checks the rest.
  void BindInteger(TEdit& edit, const char* field);
  void BindBoolean(TCheckBox& box, const char* field);
  // Empty when the record may be posted, otherwise the reason.
  virtual std::string Validate() const;
  virtual TModalResult Show(TUserInterface& ui) = 0;

  TRecordTable& table_;
  TUserInterface& ui_;

 private:
  void SetModalResult(TModalResult result);

  std::string caption_;
  TModalResult modalResult_ = TModalResult::None;
  std::vector<TEdit*> integerEdits_;
  std::vector<std::pair<TEdit*, const char*>> textEdits_;
};

// Text of a name field that is empty or white space only.
bool IsBlankText(const std::string& text);
// "Please enter a <what> from 1 to 65535." when the number is outside.
std::string PortProblem(const TEdit& edit, const std::string& what);

class TfrmProxyProperties : public TRecordDialog {
 public:
  TfrmProxyProperties(TRecordTable& mtblProxy, TUserInterface& ui);

  // Enables the user name and password exactly when authentication is on.
  void DBCheckBox1Click(TControl& sender);

  TEdit dbProxyName{"dbProxyName", "Proxy Name:"};
  TEdit dbProxyAddress{"dbProxyAddress", "Proxy Address:"};
  TEdit dbProxyPort{"dbProxyPort", "Proxy Port:"};
  TCheckBox DBCheckBox1{"DBCheckBox1", "Authentication Required"};
  TLabel lbProxyUserName{"lbProxyUserName", "User name:"};
  TEdit dbProxyUserName{"dbProxyUserName"};
  TLabel lbProxyUserPassword{"lbProxyUserPassword", "Password:"};
  TEdit dbProxyUserPassword{"dbProxyUserPassword"};

 protected:
  std::string Validate() const override;
  TModalResult Show(TUserInterface& ui) override { return ui.ShowProxyProperties(*this); }
};

class TfrmTunnelProperties : public TRecordDialog {
 public:
  TfrmTunnelProperties(TRecordTable& mtblTunnels, TUserInterface& ui);

  TEdit dbTunnelName{"dbTunnelName", "Tunnel Name:"};
  TEdit dbLocalPortNo{"dbLocalPortNo", "Local Port No:"};
  TEdit dbRemoteHost{"dbRemoteHost", "Remote Host:"};
  TEdit dbRemotePortNo{"dbRemotePortNo", "Remote Port No:"};
  TCheckBox dbEnabled{"dbEnabled", "Tunnel Enabled"};

 protected:
  std::string Validate() const override;
  TModalResult Show(TUserInterface& ui) override { return ui.ShowTunnelProperties(*this); }
};

}  // namespace vantrel
