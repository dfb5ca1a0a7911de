#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace stampwright {

// Message box types, as the window platform of the page template numbers them.
constexpr uint32_t kMbOk = 0x0;
constexpr uint32_t kMbIconError = 0x10;    // 16
constexpr uint32_t kMbIconWarning = 0x30;  // 48
constexpr uint32_t kMbSystemModal = 0x1000;
constexpr int kIdOk = 1;

// File-open dialog flags.
constexpr uint32_t kOfnPathMustExist = 0x800;
constexpr uint32_t kOfnFileMustExist = 0x1000;

struct FileDialogFilter {
  std::string display;  // "ALL (*.db;*.txt)"
  std::string pattern;  // "*.db;*.txt"
};

struct FileDialogRequest {
  std::vector<FileDialogFilter> filters;
  int filter_index = 1;  // 1-based, as the platform counts
  uint32_t flags = 0;
  size_t max_path = 256;  // including the terminating NUL: a longer path is refused
};

// What the operator sees: the controls of the main page by id, message boxes and file dialogs.
// Texts are bytes; one warning text is Big5 and the front end converts it for display.
class Page {
 public:
  virtual ~Page() = default;

  virtual void SetText(int id, std::string_view text) = 0;
  // At most max_chars characters of the control's text, as a buffer of max_chars + 1 would hold.
  virtual std::string GetText(int id, size_t max_chars) const = 0;
  virtual void Enable(int id, bool enabled) = 0;
  virtual bool IsEnabled(int id) const = 0;
  // Selects or clears one button; unlike a click it leaves the rest of the group alone.
  virtual void Check(int id, bool checked) = 0;
  virtual bool IsChecked(int id) const = 0;
  // Modal, no owner window. Returns the button pressed (kIdOk for OK).
  virtual int MessageBox(std::string_view text, std::string_view caption, uint32_t type) = 0;
  // The chosen path, or nothing when cancelled.
  virtual std::optional<std::string> OpenFileDialog(const FileDialogRequest& request) = 0;
  // Selects the whole text of an edit control, so that the next input replaces it.
  virtual void SelectText(int id) = 0;
  // Gives a control the keyboard focus.
  virtual void SetFocus(int id) = 0;
};

}  // namespace stampwright
