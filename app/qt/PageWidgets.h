#pragma once
// Small makers shared by the pages: plain-text labels and notes, widgets
// bound to their control, check boxes with their Alt-key letter.

#include <QCheckBox>
#include <QLabel>
#include <QString>

#include "app/qt/ControlBinding.h"
#include "model/Controls.h"

namespace vantrel {

inline QLabel* Text(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setTextFormat(Qt::PlainText);
  return label;
}

inline QLabel* Note(const QString& text, QWidget* parent) {
  QLabel* label = Text(text, parent);
  label->setWordWrap(true);
  return label;
}

template <class Widget, class Control>
Widget* Bound(Control& control, QWidget* parent) {
  auto* widget = new Widget(parent);
  Bind(widget, control);
  return widget;
}

inline QCheckBox* Box(TCheckBox& control, QChar mnemonic, QWidget* parent) {
  auto* box = Bound<QCheckBox>(control, parent);
  SetMnemonic(box, mnemonic);
  return box;
}

}  // namespace vantrel
