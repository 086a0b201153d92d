#include "tests/support/ScriptedUserInterface.h"

namespace vantrel {

TAnswer TScriptedUserInterface::Confirm(const std::string& question) {
  questions.push_back(question);
  if (whileAsking) whileAsking(question);
  if (answers.empty()) return TAnswer::No;
  const TAnswer answer = answers.front();
  answers.pop_front();
  return answer;
}

void TScriptedUserInterface::ShowError(const std::string& message) {
  errors.push_back(message);
}

namespace {

template <typename Dialog, typename Script>
TModalResult RunScript(Dialog& dialog, std::deque<Script>& scripts) {
  if (!scripts.empty()) {
    Script script = std::move(scripts.front());
    scripts.pop_front();
    script(dialog);
  }
  dialog.Close();
  return dialog.ModalResult();
}

}  // namespace

TModalResult TScriptedUserInterface::ShowProxyProperties(TfrmProxyProperties& dialog) {
  ++dialogsShown;
  return RunScript(dialog, proxyScripts);
}

TModalResult TScriptedUserInterface::ShowTunnelProperties(TfrmTunnelProperties& dialog) {
  ++dialogsShown;
  return RunScript(dialog, tunnelScripts);
}

void TScriptedUserInterface::OpenAddress(const std::string& address, bool maximised) {
  openedAddresses.push_back(maximised ? address + " (maximised)" : address);
}

}  // namespace vantrel
