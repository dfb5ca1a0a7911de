#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "resources/page.h"
#include "resources/page_template.h"

namespace stampwright {

// One thing the system did to the page, as a view needs it to follow.
struct PageChange {
  enum class Kind { kText, kEnable, kCheck, kSelectText, kFocus };
  Kind kind = Kind::kText;
  int id = 0;
  std::string text;  // kText: the bytes the control now holds
  bool on = false;   // kEnable: enabled; kCheck: checked
};

// The main page as state: the controls as the template creates them, changed by the system's
// writes and by what the operator does, each change told to the sink. It is what a station reads
// back (the operator's input among it), so that nothing is ever decided from a widget. Message
// boxes are answered OK and file dialogs from queued answers unless handlers are set.
class PageModel : public Page {
 public:
  using ChangeSink = std::function<void(const PageChange& change)>;
  using BoxHandler =
      std::function<int(std::string_view text, std::string_view caption, uint32_t type)>;
  using FileDialogHandler =
      std::function<std::optional<std::string>(const FileDialogRequest& request)>;

  explicit PageModel(ChangeSink sink = {});

  void SetSink(ChangeSink sink) { sink_ = std::move(sink); }
  void SetBoxHandler(BoxHandler handler) { box_handler_ = std::move(handler); }
  void SetFileDialogHandler(FileDialogHandler handler) { file_handler_ = std::move(handler); }

  void SetText(int id, std::string_view text) override;
  std::string GetText(int id, size_t max_chars) const override;
  void Enable(int id, bool enabled) override;
  bool IsEnabled(int id) const override;
  void Check(int id, bool checked) override;
  bool IsChecked(int id) const override;
  int MessageBox(std::string_view text, std::string_view caption, uint32_t type) override;
  std::optional<std::string> OpenFileDialog(const FileDialogRequest& request) override;
  void SelectText(int id) override;
  void SetFocus(int id) override;

  // What the operator does. Each returns why it cannot be done, or nothing when it was done.
  // Typing replaces the text of an enabled, writable edit control (hidden ones included); it is
  // input, not a change the view has to follow.
  std::optional<std::string> Type(int id, std::string_view text);
  // Pressing checks a button can be pressed; a radio button is then selected with its group.
  // The caller routes the command.
  std::optional<std::string> Press(int id);
  // Selecting a radio button clears the other one of its group; clearing touches only it.
  std::optional<std::string> SetRadio(int id, bool checked);
  // The answer for the next file-open dialog: a path, or nothing to cancel it.
  void QueueFileAnswer(std::optional<std::string> path) { file_answers_.push_back(std::move(path)); }
  // Where a relative answer is looked for (--workdir); empty: the process's working directory.
  // The answer itself is handed on as typed.
  void SetDirectory(std::string directory) { directory_ = std::move(directory); }

  // The whole text the control shows; nothing for an id that is not on the page.
  std::optional<std::string> TextOf(int id) const;

  // Called after every text the system writes, with the control's id.
  std::function<void(int id)> on_text;

 private:
  struct Control {
    const ControlTemplate* layout;
    std::string text;
    bool enabled;
    bool checked = false;
  };

  Control* Find(int id);
  const Control* Find(int id) const;
  void Tell(PageChange change);
  // Sets one button and reports it, whoever changed it.
  void SetChecked(Control& control, bool checked);
  std::optional<std::string> CheckUsable(int id, const Control* control) const;
  std::optional<std::string> AnswerFromQueue(const FileDialogRequest& request);

  ChangeSink sink_;
  BoxHandler box_handler_;
  FileDialogHandler file_handler_;
  std::map<int, Control> controls_;
  std::deque<std::optional<std::string>> file_answers_;
  std::string directory_;
};

}  // namespace stampwright
