#include "support/recording_page.h"

#include <utility>

#include "resources/controls.h"
#include "resources/page_template.h"

namespace stampwright {

RecordingPage::RecordingPage() {
  for (const ControlTemplate& control : MainPageControls()) {
    if (control.id == kUnnamedLabelId) continue;
    controls_[control.id] = ControlState{std::string(control.text),
                                         !control.Has(kStyleDisabled), false};
  }
}

RecordingPage::ControlState* RecordingPage::Find(int id) {
  auto it = controls_.find(id);
  if (it != controls_.end()) return &it->second;
  unknown_ids_.push_back(id);
  return nullptr;
}

const RecordingPage::ControlState* RecordingPage::Find(int id) const {
  auto it = controls_.find(id);
  if (it != controls_.end()) return &it->second;
  unknown_ids_.push_back(id);
  return nullptr;
}

void RecordingPage::SetText(int id, std::string_view text) {
  texts_.push_back({id, std::string(text)});
  events_.emplace_back(texts_.back());
  // A control takes a C string: it holds the text up to the first NUL.
  if (ControlState* control = Find(id)) control->text = std::string(text.substr(0, text.find('\0')));
}

std::string RecordingPage::GetText(int id, size_t max_chars) const {
  const ControlState* control = Find(id);
  if (control == nullptr) return {};
  return control->text.substr(0, max_chars);
}

void RecordingPage::Enable(int id, bool enabled) {
  enables_.push_back({id, enabled});
  events_.emplace_back(enables_.back());
  if (ControlState* control = Find(id)) control->enabled = enabled;
}

bool RecordingPage::IsEnabled(int id) const {
  const ControlState* control = Find(id);
  return control != nullptr && control->enabled;
}

void RecordingPage::Check(int id, bool checked) {
  checks_.push_back({id, checked});
  events_.emplace_back(checks_.back());
  if (ControlState* control = Find(id)) control->checked = checked;
}

bool RecordingPage::IsChecked(int id) const {
  const ControlState* control = Find(id);
  return control != nullptr && control->checked;
}

int RecordingPage::MessageBox(std::string_view text, std::string_view caption, uint32_t type) {
  int result = kIdOk;
  if (!box_results_.empty()) {
    result = box_results_.front();
    box_results_.pop_front();
  }
  boxes_.push_back({std::string(text), std::string(caption), type, result});
  events_.emplace_back(boxes_.back());
  ++open_modals_;
  // A copy, so that a hook that replaces itself does not destroy the function it runs in.
  if (auto hook = on_message_box) hook();
  --open_modals_;
  return result;
}

std::optional<std::string> RecordingPage::OpenFileDialog(const FileDialogRequest& request) {
  std::optional<std::string> result;
  if (!dialog_answers_.empty()) {
    result = std::move(dialog_answers_.front());
    dialog_answers_.pop_front();
  }
  // The path and its terminator must fit the caller's buffer; the platform refuses a longer one.
  if (result && result->size() + 1 > request.max_path) result.reset();
  dialogs_.push_back({request, result});
  events_.emplace_back(dialogs_.back());
  ++open_modals_;
  if (auto hook = on_file_dialog) hook();
  --open_modals_;
  return result;
}

std::vector<std::string> RecordingPage::TextsOf(int id) const {
  std::vector<std::string> out;
  for (const TextWrite& write : texts_) {
    if (write.id == id) out.push_back(write.text);
  }
  return out;
}

std::vector<std::string> RecordingPage::StatusTexts() const { return TextsOf(kStatusLine); }

namespace {

struct Describe {
  std::string operator()(const RecordingPage::TextWrite& e) const {
    return "text " + std::to_string(e.id) + " " + e.text;
  }
  std::string operator()(const RecordingPage::EnableChange& e) const {
    return "enable " + std::to_string(e.id) + (e.enabled ? " 1" : " 0");
  }
  std::string operator()(const RecordingPage::CheckChange& e) const {
    return "check " + std::to_string(e.id) + (e.checked ? " 1" : " 0");
  }
  std::string operator()(const RecordingPage::MessageBoxShown& e) const {
    return "box " + e.caption + "|" + e.text + "|" + std::to_string(e.type) + " -> " +
           std::to_string(e.result);
  }
  std::string operator()(const RecordingPage::FileDialogShown& e) const {
    return "dialog -> " + (e.result ? *e.result : std::string("cancelled"));
  }
};

}  // namespace

std::vector<std::string> RecordingPage::Transcript() const {
  std::vector<std::string> out;
  out.reserve(events_.size());
  for (const Event& event : events_) out.push_back(std::visit(Describe{}, event));
  return out;
}

void RecordingPage::SelectText(int id) {
  if (Find(id) == nullptr) return;
  selections_.push_back({id, texts_.size()});
}

void RecordingPage::SetFocus(int id) {
  if (Find(id) == nullptr) return;
  focuses_.push_back({id, texts_.size()});
}

void RecordingPage::Clear() {
  selections_.clear();
  focuses_.clear();
  events_.clear();
  texts_.clear();
  enables_.clear();
  checks_.clear();
  boxes_.clear();
  dialogs_.clear();
  unknown_ids_.clear();
}

}  // namespace stampwright
