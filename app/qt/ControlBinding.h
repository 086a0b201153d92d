#pragma once
// Binds a Qt widget to a control of the model. The widget shows the
// control's value and state; what the user does goes back through the
// control, so its handler runs as for any other change. The binding ends
// with the widget.

#include <functional>

class QAbstractButton;
class QChar;
class QCheckBox;
class QString;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QObject;
class QPlainTextEdit;
class QPushButton;
class QWidget;

namespace vantrel {

class TButton;
class TCheckBox;
class TControl;
class TEdit;
class TLabel;
class TListBox;
class TLookupCombo;
class TMemo;

void Bind(QCheckBox* widget, TCheckBox& control);
// The edit's caption belongs to the label beside it, not to the edit.
void Bind(QLineEdit* widget, TEdit& control);
// Plain text, never markup.
void Bind(QLabel* widget, TLabel& control);
// As Bind, but a growing figure's text changes only through ShowCaption:
// for a figure that moves with every block relayed and is shown at the
// owner's pace. A figure that goes down (cleared) is shown at once.
void BindPaced(QLabel* widget, TLabel& control);
void ShowCaption(QLabel* widget, const TLabel& control);
void Bind(QPushButton* widget, TButton& control);
void Bind(QPlainTextEdit* widget, TMemo& control);
void Bind(QListWidget* widget, TListBox& control);
// Several list fields show as columns in the drop-down; the closed combo
// shows the first.
void Bind(QComboBox* widget, TLookupCombo& control);

// Runs update now and after every change of the control, for as long as
// owner lives: for widgets that follow a control without showing it.
void Follow(QObject* owner, TControl& control, std::function<void()> update);

// The caption with the first occurrence of letter (in either case) marked
// as its Alt-key mnemonic: only underlined, the text stays the caption's.
QString WithMnemonic(const QString& caption, QChar letter);
// Gives a bound button or box its mnemonic letter; it holds through every
// later caption (Start Proxy, Stop Proxy).
void SetMnemonic(QAbstractButton* widget, QChar letter);

// A label that shows a control's caption (an edit's or a combo's), following
// its enabled and visible state.
void BindCaption(QLabel* widget, TControl& control);

}  // namespace vantrel
