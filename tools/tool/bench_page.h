#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>

#include "resources/page.h"

namespace stampwright::tool {

// The page of a station run from the command line: it keeps every control's text and state as
// the window would, shows each status text on stderr as progress, and keeps the last message box
// for the one line that says why an operation failed.
class BenchPage final : public Page {
 public:
  // prefix: what each progress line starts with, e.g. "stampwright-tool unit read".
  explicit BenchPage(std::string prefix) : prefix_(std::move(prefix)) {}

  void SetText(int id, std::string_view text) override;
  std::string GetText(int id, size_t max_chars) const override;
  void Enable(int id, bool enabled) override;
  bool IsEnabled(int id) const override;
  void Check(int id, bool checked) override;
  bool IsChecked(int id) const override;
  // Shown on stderr and kept; answered OK.
  int MessageBox(std::string_view text, std::string_view caption, uint32_t type) override;
  // No dialog on a bench: cancelled.
  std::optional<std::string> OpenFileDialog(const FileDialogRequest& request) override;
  // Selection and focus mean nothing without a window.
  void SelectText(int) override {}
  void SetFocus(int) override {}

  std::string Text(int id) const { return GetText(id, std::string::npos - 1); }
  // The text of the last message box (UTF-8), or empty.
  const std::string& LastBox() const { return last_box_; }
  void ForgetBoxes() { last_box_.clear(); }

 private:
  std::string prefix_;
  std::map<int, std::string> texts_;
  std::set<int> enabled_;
  std::set<int> checked_;
  std::string last_box_;
};

}  // namespace stampwright::tool
