#include "app/qt/qt_page.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QFont>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/qt/display_text.h"
#include "app/qt/page_widgets.h"
#include "app/qt/qt_message_box.h"
#include "resources/controls.h"
#include "station/station.h"

namespace stampwright {
namespace {

QString Latin1(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// The station on this thread: it reads and writes the widgets themselves.
class DirectInput final : public PageInput {
 public:
  DirectInput(QtPage& page, Station& station) : page_(page), station_(station) {}

  void Command(int id) override { station_.PageCommand(id); }
  void Typed(int, std::string) override {}  // the widget holds it
  void NewMacEntered() override {
    auto* burn = qobject_cast<QAbstractButton*>(page_.Control(kBurnButton));
    if (burn != nullptr && burn->isEnabled()) {
      burn->click();
    } else {
      page_.SelectText(kNewMacEdit);
    }
  }
  void CloseRequested() override {
    station_.CloseRequested([this] {
      station_.PageDeactivated();
      station_.PageDestroyed();
      page_.PageClosed();
    });
  }

 private:
  QtPage& page_;
  Station& station_;
};

}  // namespace

void SheetDialog::closeEvent(QCloseEvent* event) {
  // During a device operation the page closes, and hides the sheet, once the operation has ended.
  if (on_close && !on_close()) {
    event->ignore();
    return;
  }
  event->accept();
}

QtPage::QtPage() : sheet_(std::make_unique<SheetDialog>()) {
  sheet_->setWindowTitle(Latin1(kSheetCaption));
  sheet_->setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  sheet_->on_close = [this] {
    Close();
    return closed_;
  };
  BuildPage();
  BuildButtons();

  auto* layout = new QVBoxLayout(sheet_.get());
  layout->setSizeConstraint(QLayout::SetFixedSize);
  layout->addWidget(tabs_);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(close_button_);
  buttons->addWidget(cancel_button_);
  layout->addLayout(buttons);
}

QtPage::~QtPage() {
  // The widgets go with the sheet; nothing they do may reach the station any more.
  input_ = nullptr;
  sheet_->on_close = nullptr;
}

void QtPage::BuildPage() {
  tabs_ = new QTabWidget(sheet_.get());
  page_widget_ = new QWidget;
  tabs_->addTab(page_widget_, Latin1(kMainPageCaption));
  QFont font(Latin1(kMainPageFontName));
  font.setPointSize(kMainPageFontPoints);
  page_widget_->setFont(font);
  units_ = BaseUnitsOf(page_widget_->font());
  page_widget_->setFixedSize(
      DialogUnitsToPixels(units_, 0, 0, kMainPageWidthDlu, kMainPageHeightDlu).size());

  QButtonGroup* radio_group = nullptr;
  const auto controls = MainPageControls();
  for (size_t i = 0; i < controls.size(); ++i) {
    const ControlTemplate& control = controls[i];
    QWidget* widget = CreateControlWidget(control, units_, page_widget_);
    widgets_[i] = widget;
    if (control.id == kUnnamedLabelId) continue;
    by_id_[control.id] = widget;

    if (control.kind == ControlKind::kAutoRadioButton) {
      // A radio group runs from a button that starts one to the next that does.
      if (radio_group == nullptr || control.Has(kStyleGroupStart)) {
        radio_group = new QButtonGroup(page_widget_);
        radio_group->setExclusive(true);
      }
      radio_group->addButton(static_cast<QAbstractButton*>(widget), control.id);
      group_of_[control.id] = radio_group;
    }
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
      const int id = control.id;
      QObject::connect(button, &QAbstractButton::clicked, sheet_.get(),
                       [this, id] { Command(id); });
    }
  }
  for (const auto& [id, widget] : by_id_) {
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
      QObject::connect(edit, &QLineEdit::textEdited, sheet_.get(), [this, id = id](const QString& text) {
        if (input_ != nullptr) input_->Typed(id, NarrowText(text));
      });
    }
  }
  if (auto* edit = qobject_cast<QLineEdit*>(Control(kNewMacEdit))) {
    // A barcode scanner ends its input with Enter: that presses Burn when Burn may be pressed and
    // never closes the sheet.
    QObject::connect(edit, &QLineEdit::returnPressed, sheet_.get(), [this] {
      if (input_ != nullptr) input_->NewMacEntered();
    });
    // The operator's first input, typed or scanned, goes to the New MAC field.
    edit->setFocus();
  }
}

void QtPage::BuildButtons() {
  close_button_ = new QPushButton(QStringLiteral("Close"), sheet_.get());
  cancel_button_ = new QPushButton(QStringLiteral("Cancel"), sheet_.get());
  for (QPushButton* button : {close_button_, cancel_button_}) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }
  cancel_button_->setEnabled(false);
  QObject::connect(close_button_, &QPushButton::clicked, sheet_.get(), [this] { Close(); });
}

void QtPage::Attach(Station& station) {
  direct_input_ = std::make_unique<DirectInput>(*this, station);
  input_ = direct_input_.get();
}

void QtPage::Close() {
  if (closed_ || closing_) return;
  if (input_ != nullptr) {
    closing_ = true;
    input_->CloseRequested();
    return;
  }
  PageClosed();
}

void QtPage::PageClosed() {
  if (closed_) return;
  closed_ = true;
  input_ = nullptr;
  sheet_->hide();
  if (close_handler_) close_handler_();
}

void QtPage::Command(int id) {
  if (input_ != nullptr) input_->Command(id);
}

QWidget* QtPage::Control(int id) const {
  auto it = by_id_.find(id);
  return it == by_id_.end() ? nullptr : it->second;
}

void QtPage::SetText(int id, std::string_view text) {
  QWidget* widget = Control(id);
  if (widget == nullptr) return;
  // A control takes a C string: it holds the text up to the first NUL.
  const std::string_view bytes = text.substr(0, text.find('\0'));
  const QString shown = DisplayText(bytes);
  SetWidgetText(widget, shown);
  written_[id] = {std::string(bytes), shown};
}

std::string QtPage::GetText(int id, size_t max_chars) const {
  const QWidget* widget = Control(id);
  if (widget == nullptr) return {};
  const QString shown = WidgetText(widget);
  auto it = written_.find(id);
  std::string bytes =
      it != written_.end() && it->second.shown == shown ? it->second.bytes : NarrowText(shown);
  if (bytes.size() > max_chars) bytes.resize(max_chars);
  return bytes;
}

void QtPage::Enable(int id, bool enabled) {
  if (QWidget* widget = Control(id)) widget->setEnabled(enabled);
}

bool QtPage::IsEnabled(int id) const {
  const QWidget* widget = Control(id);
  return widget != nullptr && widget->isEnabled();
}

void QtPage::Check(int id, bool checked) {
  auto* button = qobject_cast<QAbstractButton*>(Control(id));
  if (button == nullptr || !button->isCheckable()) return;
  // Setting one button's state leaves the rest of its group as it is, unlike a click; an
  // exclusive group would also refuse to clear its checked button.
  auto group = group_of_.find(id);
  QButtonGroup* exclusive =
      group != group_of_.end() && group->second->exclusive() ? group->second : nullptr;
  if (exclusive != nullptr) exclusive->setExclusive(false);
  button->setChecked(checked);
  if (exclusive != nullptr) exclusive->setExclusive(true);
}

bool QtPage::IsChecked(int id) const {
  const auto* button = qobject_cast<const QAbstractButton*>(Control(id));
  return button != nullptr && button->isChecked();
}

int QtPage::MessageBox(std::string_view text, std::string_view caption, uint32_t type) {
  return ShowMessageBox(text, caption, type);
}

void QtPage::SelectText(int id) {
  if (auto* edit = qobject_cast<QLineEdit*>(Control(id))) edit->selectAll();
}

void QtPage::SetFocus(int id) {
  if (QWidget* widget = Control(id)) widget->setFocus(Qt::OtherFocusReason);
}

QString NameFilterFor(const FileDialogFilter& filter) {
  QString patterns = Latin1(filter.pattern);
  patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
  return Latin1(filter.display) + QStringLiteral(" (") + patterns + QLatin1Char(')');
}

std::optional<std::string> QtPage::OpenFileDialog(const FileDialogRequest& request) {
  QStringList filters;
  for (const FileDialogFilter& filter : request.filters) filters << NameFilterFor(filter);
  QString selected;
  if (request.filter_index >= 1 && request.filter_index <= filters.size()) {
    selected = filters[request.filter_index - 1];
  }
  // An open dialog takes existing files only, in existing folders, which is what the flags ask.
  // The filters' own patterns stay out of the listed names, so each reads as its display text.
  const QString path = QFileDialog::getOpenFileName(sheet_.get(), QString(),
                                                    QString::fromStdString(dialog_directory_),
                                                    filters.join(QStringLiteral(";;")), &selected,
                                                    QFileDialog::HideNameFilterDetails);
  if (path.isEmpty()) return std::nullopt;
  const QByteArray bytes = QFile::encodeName(path);
  // The path buffer holds max_path characters with the terminator; a longer path is refused.
  if (request.max_path == 0 || static_cast<size_t>(bytes.size()) > request.max_path - 1) {
    return std::nullopt;
  }
  return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

}  // namespace stampwright
