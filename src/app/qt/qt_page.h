#pragma once

#include <QDialog>
#include <QString>
#include <array>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/qt/dialog_units.h"
#include "resources/page.h"
#include "resources/page_template.h"

class QButtonGroup;
class QCloseEvent;
class QPushButton;
class QTabWidget;
class QWidget;

namespace stampwright {

class Station;

// Where the operator's input on the page goes: the station's page procedure, at once on this
// thread or through the station's own.
class PageInput {
 public:
  virtual ~PageInput() = default;
  // A button clicked (a radio button: chosen).
  virtual void Command(int id) = 0;
  // The operator changed an edit control's text.
  virtual void Typed(int id, std::string bytes) = 0;
  // Enter in New MAC: Burn when Burn may be pressed, else the text selected for the next scan.
  virtual void NewMacEntered() = 0;
  // The sheet's close; the page calls PageClosed once the station has closed.
  virtual void CloseRequested() = 0;
};

// The sheet around the page. Its close box runs the page's close; Escape does nothing, since the
// sheet's Cancel is disabled.
class SheetDialog final : public QDialog {
 public:
  // The page's close; true when the page is closed by now (not held back by an operation).
  std::function<bool()> on_close;
  void reject() override {}

 protected:
  void closeEvent(QCloseEvent* event) override;
};

// The main page as widgets: a sheet captioned with the program's name, one tab "Main" holding the
// 36 template controls at their dialog-unit rectangles, and the sheet's Close and disabled Cancel
// buttons. Clicks go to the page procedure of the attached station.
class QtPage final : public Page {
 public:
  QtPage();
  ~QtPage() override;
  QtPage(const QtPage&) = delete;
  QtPage& operator=(const QtPage&) = delete;

  // Commands reach this station from now on, run at once on this thread; until then they are
  // dropped.
  void Attach(Station& station);
  // The operator's input goes here from now on.
  void Attach(PageInput& input) { input_ = &input; }
  // Runs after the page has been closed; the front end leaves its event loop there.
  void SetCloseHandler(std::function<void()> handler) { close_handler_ = std::move(handler); }
  // The sheet's close: page deactivation, page destruction (each writes the state file), the
  // sheet hidden, then the close handler; during a device operation, once it has ended. Runs
  // once; later calls do nothing.
  void Close();
  bool closed() const { return closed_; }
  // The station has closed the page: the sheet is hidden and the close handler runs.
  void PageClosed();

  QDialog& sheet() { return *sheet_; }
  QTabWidget* tabs() const { return tabs_; }
  QWidget* page_widget() const { return page_widget_; }
  QPushButton* close_button() const { return close_button_; }
  QPushButton* cancel_button() const { return cancel_button_; }
  // The widget of the template control at this index, or of the control with this id.
  QWidget* ControlAt(size_t index) const {
    return index < widgets_.size() ? widgets_[index] : nullptr;
  }
  QWidget* Control(int id) const;
  DialogBaseUnits base_units() const { return units_; }

  void SetText(int id, std::string_view text) override;
  std::string GetText(int id, size_t max_chars) const override;
  void Enable(int id, bool enabled) override;
  bool IsEnabled(int id) const override;
  void Check(int id, bool checked) override;
  bool IsChecked(int id) const override;
  int MessageBox(std::string_view text, std::string_view caption, uint32_t type) override;
  std::optional<std::string> OpenFileDialog(const FileDialogRequest& request) override;
  // The folder a file dialog opens in (--workdir); empty: the process's working directory.
  void SetDialogDirectory(std::string directory) { dialog_directory_ = std::move(directory); }
  void SelectText(int id) override;
  void SetFocus(int id) override;

 private:
  // The bytes last written to a control and the text shown for them: reading the control back
  // returns the same bytes while the widget still shows that text.
  struct WrittenText {
    std::string bytes;
    QString shown;
  };

  void BuildPage();
  void BuildButtons();
  void Command(int id);

  std::unique_ptr<SheetDialog> sheet_;
  std::string dialog_directory_;
  QTabWidget* tabs_ = nullptr;
  QWidget* page_widget_ = nullptr;
  QPushButton* close_button_ = nullptr;
  QPushButton* cancel_button_ = nullptr;
  DialogBaseUnits units_;
  std::array<QWidget*, kMainPageControlCount> widgets_{};
  std::map<int, QWidget*> by_id_;
  std::map<int, QButtonGroup*> group_of_;
  std::map<int, WrittenText> written_;
  std::unique_ptr<PageInput> direct_input_;
  PageInput* input_ = nullptr;
  std::function<void()> close_handler_;
  bool closed_ = false;
  bool closing_ = false;
};

// The file dialog's name filters: each filter's display text with its patterns as the toolkit
// reads them (space-separated); the display text alone is what the dialog lists.
QString NameFilterFor(const FileDialogFilter& filter);

}  // namespace stampwright
