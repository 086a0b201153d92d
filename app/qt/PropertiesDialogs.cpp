#include "app/qt/PropertiesDialogs.h"

#include <QCheckBox>
#include <QDialog>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <functional>
#include <utility>

#include "app/qt/ControlBinding.h"
#include "model/RecordDialogs.h"

namespace vantrel {

namespace {

// Closing the window, or Escape, is the dialog's own Close: Cancel.
class TPropertiesWindow : public QDialog {
 public:
  TPropertiesWindow(TRecordDialog& dialog, QWidget* parent) : QDialog(parent), dialog_(dialog) {}

  void reject() override {
    dialog_.Close();
    QDialog::reject();
  }

 private:
  TRecordDialog& dialog_;
};

// An edit and the label that names it, in tab order.
void AddEdit(QFormLayout* form, QLabel* label, TEdit& edit, int widthInChars) {
  auto* widget = new QLineEdit(form->parentWidget());
  Bind(widget, edit);
  widget->setMinimumWidth(widget->fontMetrics().averageCharWidth() * widthInChars);
  label->setBuddy(widget);
  form->addRow(label, widget);
}

// The edit's own caption names it.
void AddEdit(QFormLayout* form, TEdit& edit, int widthInChars) {
  auto* label = new QLabel(form->parentWidget());
  BindCaption(label, edit);
  AddEdit(form, label, edit, widthInChars);
}

// A label control of the dialog names it.
void AddEdit(QFormLayout* form, TLabel& caption, TEdit& edit, int widthInChars) {
  auto* label = new QLabel(form->parentWidget());
  Bind(label, caption);
  AddEdit(form, label, edit, widthInChars);
}

QCheckBox* AddCheckBox(QFormLayout* form, TCheckBox& box) {
  auto* widget = new QCheckBox(form->parentWidget());
  Bind(widget, box);
  form->addRow(QString(), widget);
  return widget;
}

// Shows the window over its parent's centre, or the screen's when the
// parent is hidden, until the dialog's result is Ok or Cancel.
TModalResult Exec(TRecordDialog& dialog, TPropertiesWindow& window, QVBoxLayout* layout,
                  QWidget* parent) {
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  auto* ok = new QPushButton(&window);
  Bind(ok, dialog.Button1);
  ok->setDefault(true);
  ok->setAutoDefault(true);
  auto* cancel = new QPushButton(&window);
  Bind(cancel, dialog.Button2);
  // Enter presses the focused button, as in Qt's own dialogs; Ok otherwise.
  cancel->setAutoDefault(true);
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  window.setWindowTitle(QString::fromStdString(dialog.Caption()));
  window.setModal(true);
  window.setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  window.adjustSize();
  const QRect area = parent != nullptr && parent->window()->isVisible()
                         ? parent->window()->frameGeometry()
                         : (window.screen() != nullptr ? window.screen()->availableGeometry()
                                                       : QRect(0, 0, 800, 600));
  QRect frame = window.frameGeometry();
  frame.moveCenter(area.center());
  window.move(frame.topLeft());

  auto previous = std::exchange(dialog.OnResult, [&window](TModalResult result) {
    window.done(result == TModalResult::Ok ? QDialog::Accepted : QDialog::Rejected);
  });
  window.exec();
  dialog.OnResult = std::move(previous);
  dialog.Close();
  return dialog.ModalResult();
}

}  // namespace

TModalResult ExecProxyProperties(TfrmProxyProperties& dialog, QWidget* parent) {
  TPropertiesWindow window(dialog, parent);
  window.setObjectName(QStringLiteral("frmProxyProperties"));
  auto* layout = new QVBoxLayout(&window);
  auto* fields = new QWidget(&window);
  auto* form = new QFormLayout(fields);
  layout->addWidget(fields);
  AddEdit(form, dialog.dbProxyName, 30);
  AddEdit(form, dialog.dbProxyAddress, 40);
  AddEdit(form, dialog.dbProxyPort, 8);
  AddCheckBox(form, dialog.DBCheckBox1);
  AddEdit(form, dialog.lbProxyUserName, dialog.dbProxyUserName, 30);
  AddEdit(form, dialog.lbProxyUserPassword, dialog.dbProxyUserPassword, 30);
  return Exec(dialog, window, layout, parent);
}

TModalResult ExecTunnelProperties(TfrmTunnelProperties& dialog, QWidget* parent) {
  TPropertiesWindow window(dialog, parent);
  window.setObjectName(QStringLiteral("frmTunnelProperties"));
  auto* layout = new QVBoxLayout(&window);
  auto* fields = new QWidget(&window);
  auto* form = new QFormLayout(fields);
  layout->addWidget(fields);
  AddEdit(form, dialog.dbTunnelName, 30);
  AddEdit(form, dialog.dbLocalPortNo, 8);
  AddEdit(form, dialog.dbRemoteHost, 40);
  AddEdit(form, dialog.dbRemotePortNo, 8);
  AddCheckBox(form, dialog.dbEnabled);
  return Exec(dialog, window, layout, parent);
}

}  // namespace vantrel
