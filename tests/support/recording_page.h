#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "resources/page.h"

namespace stampwright {

// A page for tests. Its controls start as the page template creates them (initial texts, Burn
// disabled, no button checked: selecting PX 300 is the page procedure's own step). Everything
// done to it is kept, in one ordered log and in one list per kind; message boxes and file
// dialogs answer from scripted queues.
class RecordingPage final : public Page {
 public:
  struct TextWrite {
    int id;
    std::string text;  // the bytes as written, even past a NUL the control would stop at
  };
  struct EnableChange {
    int id;
    bool enabled;
  };
  struct CheckChange {
    int id;
    bool checked;
  };
  struct MessageBoxShown {
    std::string text;
    std::string caption;
    uint32_t type;
    int result;
  };
  struct FileDialogShown {
    FileDialogRequest request;
    std::optional<std::string> result;
  };
  using Event = std::variant<TextWrite, EnableChange, CheckChange, MessageBoxShown, FileDialogShown>;

  RecordingPage();

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

  // A selection or focus change, with the number of texts written before it.
  struct Marked {
    int id;
    size_t after_texts;
  };
  const std::vector<Marked>& selections() const { return selections_; }
  const std::vector<Marked>& focuses() const { return focuses_; }

  // Answers, in the order the boxes and dialogs open. An empty queue answers kIdOk for a box
  // and "cancelled" for a dialog. A path longer than the request's max_path allows is refused,
  // as the platform refuses it, and the dialog reports "cancelled".
  void QueueMessageBoxResult(int result) { box_results_.push_back(result); }
  void QueueFileDialogAnswer(std::optional<std::string> path) {
    dialog_answers_.push_back(std::move(path));
  }

  // Called while a box (or dialog) is open, before it returns: a test can deliver a timer tick
  // inside the box's own message loop from here. Runs again for boxes opened inside it.
  std::function<void()> on_message_box;
  std::function<void()> on_file_dialog;

  const std::vector<Event>& events() const { return events_; }
  const std::vector<TextWrite>& texts() const { return texts_; }
  const std::vector<EnableChange>& enables() const { return enables_; }
  const std::vector<CheckChange>& checks() const { return checks_; }
  const std::vector<MessageBoxShown>& message_boxes() const { return boxes_; }
  const std::vector<FileDialogShown>& file_dialogs() const { return dialogs_; }
  // Ids that were addressed but are not on the page (each call once, in order).
  const std::vector<int>& unknown_ids() const { return unknown_ids_; }
  // Boxes and dialogs open right now (nesting depth).
  int open_modals() const { return open_modals_; }

  std::vector<std::string> TextsOf(int id) const;
  std::vector<std::string> StatusTexts() const;
  // One line per event, for order checks: "text 1105 Burning...", "enable 1102 1",
  // "check 1002 1", "box Mac Burn|Error opening DB|16 -> 1", "dialog -> /path" or
  // "dialog -> cancelled".
  std::vector<std::string> Transcript() const;

  // Forgets what was recorded; the controls keep their state and the queues their answers.
  void Clear();

 private:
  struct ControlState {
    std::string text;
    bool enabled = true;
    bool checked = false;
  };

  ControlState* Find(int id);
  const ControlState* Find(int id) const;

  std::map<int, ControlState> controls_;
  std::deque<int> box_results_;
  std::deque<std::optional<std::string>> dialog_answers_;
  std::vector<Event> events_;
  std::vector<TextWrite> texts_;
  std::vector<EnableChange> enables_;
  std::vector<CheckChange> checks_;
  std::vector<MessageBoxShown> boxes_;
  std::vector<FileDialogShown> dialogs_;
  std::vector<Marked> selections_;
  std::vector<Marked> focuses_;
  mutable std::vector<int> unknown_ids_;
  int open_modals_ = 0;
};

}  // namespace stampwright
