#pragma once
// A front end without a screen whose answers are scripted in advance, for
// tests. It records every question, error, hint, notification and request
// to end that it was given.

#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "model/RecordDialogs.h"
#include "model/UserInterface.h"

namespace vantrel {

class TScriptedUserInterface : public TUserInterface {
 public:
  using ProxyScript = std::function<void(TfrmProxyProperties&)>;
  using TunnelScript = std::function<void(TfrmTunnelProperties&)>;

  // Answers are used in order; with none left the box is closed (No).
  std::deque<TAnswer> answers;
  // Each dialog shown takes the next script; it fills in fields and clicks.
  // With no script left, the dialog is closed by its window frame.
  std::deque<ProxyScript> proxyScripts;
  std::deque<TunnelScript> tunnelScripts;

  std::vector<std::string> questions;
  std::vector<std::string> errors;
  std::vector<std::string> openedAddresses;
  std::vector<std::pair<std::string, std::string>> notifications;  // (title, text)
  std::string trayHint;
  bool shown = false;
  int dialogsShown = 0;
  int terminations = 0;
  // Runs inside each Confirm, before the answer: lets a test act while a
  // question is open, as a nested event loop would.
  std::function<void(const std::string& question)> whileAsking;

  TAnswer Confirm(const std::string& question) override;
  void ShowError(const std::string& message) override;
  TModalResult ShowProxyProperties(TfrmProxyProperties& dialog) override;
  TModalResult ShowTunnelProperties(TfrmTunnelProperties& dialog) override;
  void SetTrayHint(const std::string& hint) override { trayHint = hint; }
  void ShowApplication() override { shown = true; }
  void HideApplication() override { shown = false; }
  void OpenAddress(const std::string& address, bool maximised) override;
  void Terminate() override { ++terminations; }
  void Notify(const std::string& title, const std::string& text) override {
    notifications.emplace_back(title, text);
  }
};

}  // namespace vantrel
