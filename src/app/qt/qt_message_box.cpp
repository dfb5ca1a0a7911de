#include "app/qt/qt_message_box.h"

#include "app/qt/display_text.h"
#include "resources/page.h"

namespace stampwright {
namespace {

constexpr uint32_t kIconMask = 0xF0;
constexpr uint32_t kIconQuestion = 0x20;
constexpr uint32_t kIconInformation = 0x40;
constexpr int kIdCancel = 2;

}  // namespace

QMessageBox::Icon MessageBoxIcon(uint32_t type) {
  switch (type & kIconMask) {
    case kMbIconError:
      return QMessageBox::Critical;
    case kMbIconWarning:
      return QMessageBox::Warning;
    case kIconQuestion:
      return QMessageBox::Question;
    case kIconInformation:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

int ShowMessageBox(std::string_view text, std::string_view caption, uint32_t type) {
  QMessageBox box(MessageBoxIcon(type), DisplayText(caption), DisplayText(text), QMessageBox::Ok,
                  nullptr);
  box.setTextFormat(Qt::PlainText);
  box.setWindowModality(Qt::ApplicationModal);
  if ((type & kMbSystemModal) != 0) {
    box.setWindowFlags(box.windowFlags() | Qt::WindowStaysOnTopHint);
  }
  return box.exec() == QMessageBox::Ok ? kIdOk : kIdCancel;
}

}  // namespace stampwright
