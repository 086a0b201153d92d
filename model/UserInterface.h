#pragma once
// What only a front end can do. The desktop window, the headless front end
// and the tests' scripted fake each implement it.

#include <string>

namespace vantrel {

class TfrmProxyProperties;
class TfrmTunnelProperties;

enum class TModalResult { None, Ok, Cancel };
enum class TAnswer { Yes, No };

class TUserInterface {
 public:
  virtual ~TUserInterface() = default;

  // A question with the buttons Yes and No; closing the box answers No.
  virtual TAnswer Confirm(const std::string& question) = 0;
  // An error box with an OK button.
  virtual void ShowError(const std::string& message) = 0;

  // Show a record dialog modally until its ModalResult is set or the user
  // closes it; returns the dialog's result (None counts as Cancel).
  virtual TModalResult ShowProxyProperties(TfrmProxyProperties& dialog) = 0;
  virtual TModalResult ShowTunnelProperties(TfrmTunnelProperties& dialog) = 0;

  virtual void SetTrayHint(const std::string& hint) = 0;
  virtual void ShowApplication() = 0;
  virtual void HideApplication() = 0;
  // A web address or a "mailto:" address, in a normal or a maximised window.
  virtual void OpenAddress(const std::string& address, bool maximised) = 0;
  // Tells the application to end its event loop; the program then ends.
  virtual void Terminate() = 0;
  // A desktop notification, for news the user should hear while the
  // window is hidden.
  virtual void Notify(const std::string& title, const std::string& text) = 0;
};

}  // namespace vantrel
