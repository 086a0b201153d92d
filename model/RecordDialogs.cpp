#include "model/RecordDialogs.h"

#include "model/ProxyTables.h"
#include "model/TextNumbers.h"

namespace vantrel {

TRecordDialog::TRecordDialog(std::string caption, TRecordTable& table, TUserInterface& ui)
    : table_(table), ui_(ui), caption_(std::move(caption)) {
  Button1.OnClick = [this](TControl& sender) { Button1Click(sender); };
  Button2.OnClick = [this](TControl& sender) { Button2Click(sender); };
}

// The first result of a showing is final: the window closes on it.
void TRecordDialog::SetModalResult(TModalResult result) {
  if (modalResult_ != TModalResult::None) return;
  modalResult_ = result;
  if (OnResult) OnResult(result);
}

void TRecordDialog::Close() {
  if (modalResult_ == TModalResult::None) SetModalResult(TModalResult::Cancel);
}

TModalResult TRecordDialog::ShowModal() {
  modalResult_ = TModalResult::None;
  Show(ui_);
  Close();
  return modalResult_;
}

void TRecordDialog::Button1Click(TControl& /*sender*/) {
  const std::string problem = Validate();
  if (!problem.empty()) {
    ui_.ShowError(problem);
    return;
  }
  SetModalResult(TModalResult::Ok);
}

void TRecordDialog::Button2Click(TControl& /*sender*/) {
  SetModalResult(TModalResult::Cancel);
}

void TRecordDialog::BindText(TEdit& edit, const char* field) {
  textEdits_.emplace_back(&edit, field);
  edit.SetMaxLength(table_.Fields()[table_.FieldIndex(field)].size);
  edit.SetText(table_.AsString(field));
  edit.OnChange = [this, field](TControl& sender) {
    table_.SetString(field, static_cast<TEdit&>(sender).Text());
  };
}

void TRecordDialog::BindInteger(TEdit& edit, const char* field) {
  // A new record's number is not there yet: an empty field, not a "0" the
  // user would type behind.
  const int32_t value = table_.AsInteger(field);
  const bool unset = table_.State() == TDataSetState::Insert && value == 0;
  edit.SetText(unset ? std::string() : std::to_string(value));
  edit.OnChange = [this, field](TControl& sender) {
    if (auto number = ParseInt32(static_cast<TEdit&>(sender).Text())) {
      table_.SetInteger(field, *number);
    }
  };
  integerEdits_.push_back(&edit);
}

void TRecordDialog::BindBoolean(TCheckBox& box, const char* field) {
  box.SetChecked(table_.AsBoolean(field));
  box.OnClick = [this, field](TControl& sender) {
    table_.SetBoolean(field, static_cast<TCheckBox&>(sender).Checked());
  };
}

std::string TRecordDialog::Validate() const {
  for (const TEdit* edit : integerEdits_) {
    // Left empty: the field's own check names what is missing.
    if (!edit->Text().empty() && !ParseInt32(edit->Text())) return "'" + edit->Text() + "' is not a valid integer value";
  }
  for (const auto& [edit, field] : textEdits_) {
    for (char c : edit->Text()) {
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
        return std::string(field) + " cannot hold control characters (tabs, line breaks).";
      }
    }
  }
  return {};
}

bool IsBlankText(const std::string& text) {
  return text.find_first_not_of(" \t") == std::string::npos;
}

std::string PortProblem(const TEdit& edit, const std::string& what) {
  const auto port = ParseInt32(edit.Text());
  if (port && *port >= 1 && *port <= 65535) return {};
  return "Please enter a " + what + " from 1 to 65535.";
}

TfrmProxyProperties::TfrmProxyProperties(TRecordTable& mtblProxy, TUserInterface& ui)
    : TRecordDialog("Proxy Properties", mtblProxy, ui) {
  using namespace proxy_fields;
  BindText(dbProxyName, ProxyName);
  BindText(dbProxyAddress, ProxyAddress);
  BindInteger(dbProxyPort, ProxyPort);
  BindBoolean(DBCheckBox1, NeedsAuthentication);
  BindText(dbProxyUserName, ProxyUserName);
  BindText(dbProxyUserPassword, ProxyPassword);
  dbProxyUserPassword.SetPasswordChar('*');
  auto store = DBCheckBox1.OnClick;
  DBCheckBox1.OnClick = [this, store](TControl& sender) {
    store(sender);
    DBCheckBox1Click(sender);
  };
  // Start consistent with the record shown, also when the box did not flip.
  DBCheckBox1Click(DBCheckBox1);
}

void TfrmProxyProperties::DBCheckBox1Click(TControl& /*sender*/) {
  const bool on = DBCheckBox1.Checked();
  lbProxyUserName.SetEnabled(on);
  dbProxyUserName.SetEnabled(on);
  lbProxyUserPassword.SetEnabled(on);
  dbProxyUserPassword.SetEnabled(on);
}

std::string TfrmProxyProperties::Validate() const {
  std::string problem = TRecordDialog::Validate();
  if (problem.empty() && IsBlankText(dbProxyName.Text())) problem = "Please enter a proxy name.";
  if (problem.empty()) problem = PortProblem(dbProxyPort, "proxy port");
  return problem;
}

TfrmTunnelProperties::TfrmTunnelProperties(TRecordTable& mtblTunnels, TUserInterface& ui)
    : TRecordDialog("Tunnel Properties", mtblTunnels, ui) {
  using namespace tunnel_fields;
  BindText(dbTunnelName, TunnelName);
  BindInteger(dbLocalPortNo, LocalPortNo);
  BindText(dbRemoteHost, RemoteHost);
  BindInteger(dbRemotePortNo, RemotePortNo);
  BindBoolean(dbEnabled, Enabled);
}

std::string TfrmTunnelProperties::Validate() const {
  std::string problem = TRecordDialog::Validate();
  if (problem.empty() && IsBlankText(dbTunnelName.Text())) problem = "Please enter a tunnel name.";
  if (problem.empty()) problem = PortProblem(dbLocalPortNo, "local port");
  if (problem.empty()) problem = PortProblem(dbRemotePortNo, "remote port");
  return problem;
}

}  // namespace vantrel
