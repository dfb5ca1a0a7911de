#include "resources/page_model.h"

#include <filesystem>
#include <utility>
#include <vector>

#include "base/work_directory.h"
#include "resources/controls.h"

namespace stampwright {
namespace {

// A control holds a C string: what follows a NUL is not shown.
std::string_view UpToNul(std::string_view text) { return text.substr(0, text.find('\0')); }

std::string Describe(int id) { return "control " + std::to_string(id); }

// The radio buttons of one group: a group-start button and the radio buttons that follow it in
// template order.
std::vector<int> RadioGroupOf(int id) {
  std::vector<int> group;
  bool found = false;
  for (const ControlTemplate& control : MainPageControls()) {
    const bool radio = control.kind == ControlKind::kAutoRadioButton;
    if (!radio || control.Has(kStyleGroupStart)) {
      if (found) return group;
      group.clear();
    }
    if (radio) {
      group.push_back(control.id);
      found = found || control.id == id;
    }
  }
  return found ? group : std::vector<int>{id};
}

}  // namespace

PageModel::PageModel(ChangeSink sink) : sink_(std::move(sink)) {
  for (const ControlTemplate& control : MainPageControls()) {
    if (control.id == kUnnamedLabelId) continue;
    controls_.emplace(control.id,
                      Control{&control, std::string(control.text), !control.Has(kStyleDisabled)});
  }
}

PageModel::Control* PageModel::Find(int id) {
  const auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : &it->second;
}

const PageModel::Control* PageModel::Find(int id) const {
  const auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : &it->second;
}

void PageModel::Tell(PageChange change) {
  if (sink_) sink_(change);
}

void PageModel::SetText(int id, std::string_view text) {
  Control* control = Find(id);
  if (control == nullptr) return;
  control->text = std::string(UpToNul(text));
  Tell({PageChange::Kind::kText, id, control->text});
  if (on_text) on_text(id);
}

std::string PageModel::GetText(int id, size_t max_chars) const {
  const Control* control = Find(id);
  if (control == nullptr) return {};
  return control->text.substr(0, max_chars);
}

void PageModel::Enable(int id, bool enabled) {
  Control* control = Find(id);
  if (control == nullptr) return;
  control->enabled = enabled;
  Tell({PageChange::Kind::kEnable, id, {}, enabled});
}

bool PageModel::IsEnabled(int id) const {
  const Control* control = Find(id);
  return control != nullptr && control->enabled;
}

void PageModel::SetChecked(Control& control, bool checked) {
  control.checked = checked;
  Tell({PageChange::Kind::kCheck, control.layout->id, {}, checked});
}

void PageModel::Check(int id, bool checked) {
  if (Control* control = Find(id)) SetChecked(*control, checked);
}

bool PageModel::IsChecked(int id) const {
  const Control* control = Find(id);
  return control != nullptr && control->checked;
}

void PageModel::SelectText(int id) {
  if (Find(id) != nullptr) Tell({PageChange::Kind::kSelectText, id, {}, false});
}

void PageModel::SetFocus(int id) {
  if (Find(id) != nullptr) Tell({PageChange::Kind::kFocus, id, {}, false});
}

int PageModel::MessageBox(std::string_view text, std::string_view caption, uint32_t type) {
  return box_handler_ ? box_handler_(text, caption, type) : kIdOk;
}

std::optional<std::string> PageModel::OpenFileDialog(const FileDialogRequest& request) {
  return file_handler_ ? file_handler_(request) : AnswerFromQueue(request);
}

std::optional<std::string> PageModel::AnswerFromQueue(const FileDialogRequest& request) {
  if (file_answers_.empty()) return std::nullopt;
  std::optional<std::string> answer = std::move(file_answers_.front());
  file_answers_.pop_front();
  // The path must fit the caller's buffer with its terminator, as the platform's dialog demands.
  if (answer && (answer->empty() || answer->size() + 1 > request.max_path)) return std::nullopt;
  // The dialog lets only an existing file in an existing folder be chosen.
  if (answer && (request.flags & kOfnFileMustExist) != 0 &&
      !std::filesystem::is_regular_file(InDirectory(directory_, *answer))) {
    return std::nullopt;
  }
  return answer;
}

std::optional<std::string> PageModel::CheckUsable(int id, const Control* control) const {
  if (control == nullptr) return Describe(id) + " is not on the page";
  if (!control->enabled) return Describe(id) + " is disabled";
  return std::nullopt;
}

std::optional<std::string> PageModel::Type(int id, std::string_view text) {
  Control* control = Find(id);
  if (control != nullptr && control->layout->kind != ControlKind::kEdit) {
    return Describe(id) + " is not an edit control";
  }
  if (auto problem = CheckUsable(id, control)) return problem;
  if (control->layout->Has(kStyleReadOnly)) return Describe(id) + " is read-only";
  control->text = std::string(UpToNul(text));
  return std::nullopt;
}

std::optional<std::string> PageModel::Press(int id) {
  Control* control = Find(id);
  if (control != nullptr && control->layout->kind != ControlKind::kPushButton &&
      control->layout->kind != ControlKind::kAutoRadioButton) {
    return Describe(id) + " is not a button";
  }
  if (auto problem = CheckUsable(id, control)) return problem;
  if (control->layout->kind == ControlKind::kAutoRadioButton) return SetRadio(id, true);
  return std::nullopt;
}

std::optional<std::string> PageModel::SetRadio(int id, bool checked) {
  Control* control = Find(id);
  if (control != nullptr && control->layout->kind != ControlKind::kAutoRadioButton) {
    return Describe(id) + " is not a radio button";
  }
  if (auto problem = CheckUsable(id, control)) return problem;
  if (checked) {
    for (const int other : RadioGroupOf(id)) {
      Control* mate = Find(other);
      if (other != id && mate != nullptr && mate->checked) SetChecked(*mate, false);
    }
  }
  if (control->checked != checked) SetChecked(*control, checked);
  return std::nullopt;
}

std::optional<std::string> PageModel::TextOf(int id) const {
  const Control* control = Find(id);
  if (control == nullptr) return std::nullopt;
  return control->text;
}

}  // namespace stampwright
