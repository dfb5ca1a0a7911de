#include "bench_page.h"

#include <cstdio>

#include "base/big5.h"
#include "resources/controls.h"

namespace stampwright::tool {

void BenchPage::SetText(int id, std::string_view text) {
  texts_[id] = std::string(text);
  if (id == kStatusLine) {
    std::fprintf(stderr, "%s: %.*s\n", prefix_.c_str(), static_cast<int>(text.size()), text.data());
  }
}

std::string BenchPage::GetText(int id, size_t max_chars) const {
  const auto found = texts_.find(id);
  if (found == texts_.end()) return {};
  return found->second.substr(0, max_chars);
}

void BenchPage::Enable(int id, bool enabled) {
  if (enabled) {
    enabled_.insert(id);
  } else {
    enabled_.erase(id);
  }
}

bool BenchPage::IsEnabled(int id) const { return enabled_.count(id) != 0; }

void BenchPage::Check(int id, bool checked) {
  if (checked) {
    checked_.insert(id);
  } else {
    checked_.erase(id);
  }
}

bool BenchPage::IsChecked(int id) const { return checked_.count(id) != 0; }

int BenchPage::MessageBox(std::string_view text, std::string_view, uint32_t) {
  // The caption names a dialog; on a command line the prefix says who speaks.
  last_box_ = Big5ToUtf8(text);
  std::fprintf(stderr, "%s: %s\n", prefix_.c_str(), last_box_.c_str());
  return kIdOk;
}

std::optional<std::string> BenchPage::OpenFileDialog(const FileDialogRequest&) {
  return std::nullopt;
}

}  // namespace stampwright::tool
