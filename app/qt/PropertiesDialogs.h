#pragma once
// The two record dialogs as fixed-size Qt dialogs centred on their parent.
// The dialog objects keep the logic; these only show them until their
// result is Ok or Cancel.

#include "model/UserInterface.h"

class QWidget;

namespace vantrel {

class TfrmProxyProperties;
class TfrmTunnelProperties;

TModalResult ExecProxyProperties(TfrmProxyProperties& dialog, QWidget* parent);
TModalResult ExecTunnelProperties(TfrmTunnelProperties& dialog, QWidget* parent);

}  // namespace vantrel
