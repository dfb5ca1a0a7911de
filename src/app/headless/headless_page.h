#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "resources/page.h"
#include "resources/page_template.h"

namespace stampwright {

// The main page without a window: the controls' state as the template creates it, and one JSON
// event for everything the system does to it. Message boxes are answered OK at once; a file
// dialog takes the answer queued for it, or is cancelled.
class HeadlessPage final : public Page {
 public:
  using EventSink = std::function<void(nlohmann::ordered_json event)>;

  explicit HeadlessPage(EventSink sink);

  void SetText(int id, std::string_view text) override;
  std::string GetText(int id, size_t max_chars) const override;
  void Enable(int id, bool enabled) override;
  bool IsEnabled(int id) const override;
  void Check(int id, bool checked) override;
  bool IsChecked(int id) const override;
  int MessageBox(std::string_view text, std::string_view caption, uint32_t type) override;
  std::optional<std::string> OpenFileDialog(const FileDialogRequest& request) override;
  // No window, so nothing to select or focus; no event either.
  void SelectText(int) override {}
  void SetFocus(int) override {}

  // What the operator does. Each returns why it cannot be done, or nothing when it was done.
  // Typing replaces the text of an enabled, writable edit control (hidden ones included).
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
  // Sets one button and reports it, whoever changed it.
  void SetChecked(Control& control, bool checked);
  std::optional<std::string> CheckUsable(int id, const Control* control) const;

  EventSink sink_;
  std::map<int, Control> controls_;
  std::deque<std::optional<std::string>> file_answers_;
  std::string directory_;
};

}  // namespace stampwright
