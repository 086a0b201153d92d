#include "app/qt/ControlBinding.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTableView>
#include <QTextBlock>
#include <QTextDocument>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "model/Controls.h"

namespace vantrel {

namespace {

QString FromModel(const std::string& text) {
  return QString::fromStdString(text);
}

const char* const kMnemonicProperty = "vantrelMnemonic";

// A button's or a box's caption, with its mnemonic where it has one.
QString Caption(const QWidget* widget, const TControl& control) {
  return WithMnemonic(FromModel(control.Caption()), widget->property(kMnemonicProperty).toChar());
}

// Lives as the widget's child, so the subscription ends with the widget.
class TBindingLifetime : public QObject {
 public:
  TBindingLifetime(QObject* owner, TSubscription subscription)
      : QObject(owner), subscription_(std::move(subscription)) {}

 private:
  TSubscription subscription_;
};

// State every control shares. A widget without a parent is never shown from
// here: that would open it as a window of its own.
void SyncState(QWidget* widget, const TControl& control) {
  widget->setEnabled(control.Enabled());
  if (widget->isHidden() == control.Visible()) {
    if (!control.Visible()) {
      widget->setHidden(true);
    } else if (widget->parentWidget() != nullptr) {
      widget->setHidden(false);
    }
  }
  const QString hint = FromModel(control.Hint());
  if (widget->toolTip() != hint) widget->setToolTip(hint);
}

// Brings the pages that hold the widget to the front, then focuses it; an
// edit's text is selected, so typing replaces it.
void RevealAndFocus(QWidget* widget) {
  for (QWidget* at = widget; at != nullptr; at = at->parentWidget()) {
    QWidget* stack = at->parentWidget();
    auto* tabs = stack != nullptr ? qobject_cast<QTabWidget*>(stack->parentWidget()) : nullptr;
    if (tabs != nullptr && tabs->indexOf(at) >= 0) tabs->setCurrentWidget(at);
  }
  widget->setFocus(Qt::OtherFocusReason);
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) edit->selectAll();
}

// Runs sync now and whenever the control changes, for as long as the widget
// lives.
template <class Widget, class Control>
void Track(Widget* widget, Control& control, std::function<void(Widget*, Control&)> sync) {
  widget->setObjectName(QString::fromStdString(control.Name()));
  // Requests made before the widget existed are not its to serve.
  auto focusServed = std::make_shared<uint64_t>(control.FocusRequests());
  auto update = [widget, &control, sync, focusServed] {
    {
      const QSignalBlocker blocker(widget);
      SyncState(widget, control);
      sync(widget, control);
    }
    if (control.FocusRequests() != *focusServed) {
      *focusServed = control.FocusRequests();
      RevealAndFocus(widget);
    }
  };
  update();
  new TBindingLifetime(widget, control.Views().Watch(update));
}

// Runs a user's change through the model, then shows what the model made of
// it (a handler may refuse or adjust the value). The widget may be gone by
// then: a handler can close its window.
template <class Widget, class Action, class Sync>
void UserChange(Widget* widget, Action action, Sync sync) {
  QPointer<Widget> alive(widget);
  action();
  if (alive) {
    const QSignalBlocker blocker(widget);
    sync();
  }
}

QString TextOf(const std::vector<std::string>& lines) {
  QStringList parts;
  parts.reserve(static_cast<qsizetype>(lines.size()));
  for (const auto& line : lines) parts.push_back(FromModel(line));
  return parts.join(QLatin1Char('\n'));
}

void SyncEditText(QLineEdit* widget, const TEdit& control) {
  const QString text = FromModel(control.Text());
  if (widget->text() == text) return;
  const int cursor = widget->cursorPosition();
  widget->setText(text);
  widget->setCursorPosition(std::min(cursor, static_cast<int>(text.size())));
}

// shown: the items the widget holds, kept beside it so that comparing costs
// no conversions.
void SyncListItems(QListWidget* widget, const TListBox& control, std::vector<std::string>& shown) {
  const auto& items = control.Items();
  if (items == shown) return;
  // The host lists grow one name at a time while the proxy runs: insert that
  // one instead of rebuilding thousands of rows.
  if (items.size() == shown.size() + 1) {
    size_t at = 0;
    while (at < shown.size() && shown[at] == items[at]) ++at;
    if (std::equal(shown.begin() + static_cast<std::ptrdiff_t>(at), shown.end(),
                   items.begin() + static_cast<std::ptrdiff_t>(at) + 1)) {
      widget->insertItem(static_cast<int>(at), FromModel(items[at]));
      shown.insert(shown.begin() + static_cast<std::ptrdiff_t>(at), items[at]);
      return;
    }
  }
  QStringList texts;
  texts.reserve(static_cast<qsizetype>(items.size()));
  for (const auto& item : items) texts.push_back(FromModel(item));
  widget->clear();
  widget->addItems(texts);
  shown = items;
}

constexpr int kValueRole = Qt::UserRole + 1;

void SyncComboItems(QComboBox* widget, const TLookupCombo& control) {
  const auto choices = control.ItemColumns();
  size_t columns = 1;
  for (const auto& [value, texts] : choices) columns = std::max(columns, texts.size());

  auto* model = qobject_cast<QStandardItemModel*>(widget->model());
  bool same = model != nullptr && model->rowCount() == static_cast<int>(choices.size()) &&
              model->columnCount() == static_cast<int>(columns);
  for (int row = 0; same && row < static_cast<int>(choices.size()); ++row) {
    const auto& [value, texts] = choices[static_cast<size_t>(row)];
    same = model->item(row, 0)->data(kValueRole).toString() == FromModel(value);
    for (size_t column = 0; same && column < texts.size(); ++column) {
      QStandardItem* item = model->item(row, static_cast<int>(column));
      same = item != nullptr && item->text() == FromModel(texts[column]);
    }
  }
  if (!same) {
    auto* fresh =
        new QStandardItemModel(static_cast<int>(choices.size()), static_cast<int>(columns), widget);
    for (int row = 0; row < static_cast<int>(choices.size()); ++row) {
      const auto& [value, texts] = choices[static_cast<size_t>(row)];
      for (size_t column = 0; column < columns; ++column) {
        auto* item =
            new QStandardItem(column < texts.size() ? FromModel(texts[column]) : QString());
        item->setEditable(false);
        if (column == 0) item->setData(FromModel(value), kValueRole);
        fresh->setItem(row, static_cast<int>(column), item);
      }
    }
    // The combo deletes the model it replaces when it owned it.
    widget->setModel(fresh);
    widget->setModelColumn(0);
    if (columns > 1) {
      // Every list field shows as a column of the drop-down.
      auto* view = qobject_cast<QTableView*>(widget->view());
      if (view == nullptr) {
        view = new QTableView(widget);
        view->setSelectionBehavior(QAbstractItemView::SelectRows);
        view->setShowGrid(false);
        view->horizontalHeader()->hide();
        view->verticalHeader()->hide();
        view->setWordWrap(false);
        widget->setView(view);
      }
      view->resizeColumnsToContents();
      view->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
      int width = 0;
      for (size_t column = 0; column < columns; ++column) {
        width += view->columnWidth(static_cast<int>(column));
      }
      view->setMinimumWidth(width + view->verticalScrollBar()->sizeHint().width() + 4);
    }
  }
  const int index = widget->findData(FromModel(control.Value()), kValueRole);
  if (widget->currentIndex() != index) widget->setCurrentIndex(index);
}

}  // namespace

void Bind(QCheckBox* widget, TCheckBox& control) {
  auto sync = [](QCheckBox* box, TCheckBox& model) {
    const QString text = Caption(box, model);
    if (box->text() != text) box->setText(text);
    if (box->isChecked() != model.Checked()) box->setChecked(model.Checked());
  };
  Track<QCheckBox, TCheckBox>(widget, control, sync);
  QObject::connect(widget, &QCheckBox::clicked, widget, [widget, &control, sync](bool checked) {
    UserChange(
        widget, [&] { control.SetChecked(checked); }, [&] { sync(widget, control); });
  });
}

void Bind(QLineEdit* widget, TEdit& control) {
  auto sync = [](QLineEdit* edit, TEdit& model) {
    const int maxLength = model.MaxLength() > 0 ? static_cast<int>(model.MaxLength()) : 32767;
    if (edit->maxLength() != maxLength) edit->setMaxLength(maxLength);
    if (edit->isReadOnly() != model.ReadOnly()) edit->setReadOnly(model.ReadOnly());
    const bool password = model.PasswordChar() != '\0';
    const auto mode = password ? QLineEdit::Password : QLineEdit::Normal;
    if (edit->echoMode() != mode) {
      edit->setEchoMode(mode);
      // The style's own echo character is a dot; the model names its own.
      edit->setStyleSheet(
          password ? QStringLiteral("lineedit-password-character: %1")
                         .arg(static_cast<int>(static_cast<unsigned char>(model.PasswordChar())))
                   : QString());
    }
    SyncEditText(edit, model);
  };
  Track<QLineEdit, TEdit>(widget, control, sync);
  QObject::connect(
      widget, &QLineEdit::textEdited, widget, [widget, &control, sync](const QString& text) {
        UserChange(
            widget, [&] { control.SetText(text.toStdString()); }, [&] { sync(widget, control); });
      });
}

void ShowCaption(QLabel* widget, const TLabel& control) {
  const QString text = FromModel(control.Caption());
  if (widget->text() != text) widget->setText(text);
}

void Bind(QLabel* widget, TLabel& control) {
  widget->setTextFormat(Qt::PlainText);
  Track<QLabel, TLabel>(widget, control,
                        [](QLabel* label, TLabel& model) { ShowCaption(label, model); });
}

namespace {

// The number a figure's text shows, its group separators left out.
qulonglong FigureOf(const QString& text) {
  QString digits;
  for (const QChar c : text)
    if (c.isDigit()) digits += c;
  return digits.toULongLong();
}

}  // namespace

void BindPaced(QLabel* widget, TLabel& control) {
  widget->setTextFormat(Qt::PlainText);
  // A figure that went down was cleared by the user, who expects to see it
  // at once; growth waits for the owner's pace.
  Track<QLabel, TLabel>(widget, control, [](QLabel* label, TLabel& model) {
    if (FigureOf(FromModel(model.Caption())) < FigureOf(label->text())) ShowCaption(label, model);
  });
  ShowCaption(widget, control);
}

void BindCaption(QLabel* widget, TControl& control) {
  widget->setTextFormat(Qt::PlainText);
  widget->setObjectName(QString::fromStdString("lbl_" + control.Name()));
  auto update = [widget, &control] {
    widget->setEnabled(control.Enabled());
    if (!control.Visible()) {
      widget->setHidden(true);
    } else if (widget->isHidden() && widget->parentWidget() != nullptr) {
      widget->setHidden(false);
    }
    const QString text = FromModel(control.Caption());
    if (widget->text() != text) widget->setText(text);
  };
  update();
  new TBindingLifetime(widget, control.Views().Watch(update));
}

QString WithMnemonic(const QString& caption, QChar letter) {
  // Captions are plain text: a '&' of their own is doubled.
  QString text = caption;
  text.replace(QLatin1Char('&'), QLatin1String("&&"));
  if (letter.isNull()) return text;
  for (qsizetype at = 0; at < text.size(); ++at) {
    if (text[at] == QLatin1Char('&')) {
      ++at;  // a doubled '&'
      continue;
    }
    if (text[at].toLower() == letter.toLower()) {
      text.insert(at, QLatin1Char('&'));
      break;
    }
  }
  return text;
}

void SetMnemonic(QAbstractButton* widget, QChar letter) {
  widget->setProperty(kMnemonicProperty, letter);
  // The shown text back to the caption: "&&" is a '&', a single one marks.
  const QString shown = widget->text();
  QString plain;
  for (qsizetype at = 0; at < shown.size(); ++at) {
    if (shown[at] == QLatin1Char('&') && ++at >= shown.size()) break;
    plain += shown[at];
  }
  widget->setText(WithMnemonic(plain, letter));
}

void Follow(QObject* owner, TControl& control, std::function<void()> update) {
  update();
  new TBindingLifetime(owner, control.Views().Watch(std::move(update)));
}

void Bind(QPushButton* widget, TButton& control) {
  auto sync = [](QPushButton* button, TButton& model) {
    const QString text = Caption(button, model);
    if (button->text() != text) button->setText(text);
  };
  Track<QPushButton, TButton>(widget, control, sync);
  QObject::connect(widget, &QPushButton::clicked, widget, [&control] { control.Click(); });
}

namespace {

// The memo's lines as the document holds them, kept block by block as the
// document changes, so a keystroke in a long host list converts the lines
// it touched instead of the whole text.
class TMemoMirror : public QObject {
 public:
  TMemoMirror(QPlainTextEdit* widget, TMemo& control)
      : QObject(widget), widget_(widget), control_(control) {
    Reload();
    connect(widget->document(), &QTextDocument::contentsChange, this,
            [this](int position, int removed, int added) { Changed(position, removed, added); });
  }

  // Model to widget; the widget's and the document's own signals must not
  // reach the model meanwhile.
  void Show() {
    if (applying_ || Lines() == control_.Lines()) return;
    {
      const QSignalBlocker blocker(widget_);
      widget_->setPlainText(TextOf(control_.Lines()));
    }
    Reload();
  }

  // Widget to model, after the user's edit.
  void Apply() {
    QPointer<QPlainTextEdit> alive(widget_);
    std::vector<std::string> lines = Lines();
    applying_ = true;
    control_.SetLines(lines);
    if (!alive) return;
    applying_ = false;
    // A handler may have set other lines.
    if (control_.Lines() != lines) Show();
  }

 private:
  // A final line break opens no line of its own, as in an edit box.
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines = blocks_;
    if (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
  }

  void Reload() {
    blocks_.clear();
    for (QTextBlock block = widget_->document()->begin(); block.isValid(); block = block.next()) {
      blocks_.push_back(block.text().toStdString());
    }
  }

  void Changed(int position, int /*removed*/, int added) {
    QTextDocument* document = widget_->document();
    const int count = document->blockCount();
    QTextBlock first = document->findBlock(position);
    QTextBlock last = document->findBlock(position + added);
    if (!first.isValid()) first = document->lastBlock();
    if (!last.isValid()) last = document->lastBlock();
    const int from = first.blockNumber();
    const int to = last.blockNumber();
    // The blocks from..to replace as many old ones as the count says.
    const int replaced = (to - from + 1) + (static_cast<int>(blocks_.size()) - count);
    if (from > static_cast<int>(blocks_.size()) || replaced < 0 ||
        from + replaced > static_cast<int>(blocks_.size())) {
      Reload();
      return;
    }
    std::vector<std::string> fresh;
    for (QTextBlock block = first; block.isValid() && block.blockNumber() <= to;
         block = block.next()) {
      fresh.push_back(block.text().toStdString());
    }
    const auto at = blocks_.begin() + from;
    blocks_.erase(at, at + replaced);
    blocks_.insert(blocks_.begin() + from, fresh.begin(), fresh.end());
  }

  QPlainTextEdit* widget_;
  TMemo& control_;
  std::vector<std::string> blocks_;
  bool applying_ = false;
};

}  // namespace

void Bind(QPlainTextEdit* widget, TMemo& control) {
  auto* mirror = new TMemoMirror(widget, control);
  auto sync = [mirror](QPlainTextEdit*, TMemo&) { mirror->Show(); };
  Track<QPlainTextEdit, TMemo>(widget, control, sync);
  // Programmatic updates run with the widget's signals blocked, so this
  // fires for the user's typing only.
  QObject::connect(widget, &QPlainTextEdit::textChanged, mirror, [mirror] { mirror->Apply(); });
}

void Bind(QListWidget* widget, TListBox& control) {
  widget->setUniformItemSizes(true);
  widget->clear();
  auto shown = std::make_shared<std::vector<std::string>>();
  auto sync = [shown](QListWidget* list, TListBox& model) { SyncListItems(list, model, *shown); };
  Track<QListWidget, TListBox>(widget, control, sync);
}

void Bind(QComboBox* widget, TLookupCombo& control) {
  widget->setEditable(false);
  auto sync = [](QComboBox* combo, TLookupCombo& model) { SyncComboItems(combo, model); };
  Track<QComboBox, TLookupCombo>(widget, control, sync);
  QObject::connect(widget, &QComboBox::activated, widget, [widget, &control, sync](int index) {
    const std::string value = widget->itemData(index, kValueRole).toString().toStdString();
    UserChange(
        widget, [&] { control.SetValue(value); }, [&] { sync(widget, control); });
  });
}

}  // namespace vantrel
