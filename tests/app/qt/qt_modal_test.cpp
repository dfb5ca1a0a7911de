// Message boxes and the file dialog: answered from a timer while their own loops run.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/qt/qt_message_box.h"
#include "app/qt/qt_page.h"
#include "app/qt/modal_answerer.h"
#include "app/qt/qt_printers.h"
#include "resources/page_template.h"
#include "support/temp_dir.h"

namespace stampwright {
namespace {

using qt_test::ModalAnswerer;

struct SeenBox {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QString text;
  QString caption;
  Qt::WindowModality modality = Qt::NonModal;
  bool on_top = false;
  bool has_owner = true;
  int buttons = 0;
};

// Records the box and presses its OK button.
ModalAnswerer::Answer PressOk(SeenBox* seen) {
  return [seen](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    seen->icon = box->icon();
    seen->text = box->text();
    seen->caption = box->windowTitle();
    seen->modality = box->windowModality();
    seen->on_top = box->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
    seen->has_owner = box->parentWidget() != nullptr;
    seen->buttons = static_cast<int>(box->buttons().size());
    box->button(QMessageBox::Ok)->click();
  };
}

TEST(QtMessageBoxTest, IconAndModalityFollowTheType) {
  struct Case {
    uint32_t type;
    QMessageBox::Icon icon;
    bool on_top;
  };
  for (const Case& c :
       {Case{16, QMessageBox::Critical, false}, Case{48, QMessageBox::Warning, false},
        Case{4112, QMessageBox::Critical, true}, Case{0, QMessageBox::NoIcon, false}}) {
    QtPage page;
    SeenBox seen;
    ModalAnswerer answerer(PressOk(&seen));
    EXPECT_EQ(page.MessageBox("Error opening DB", "Mac Burn", c.type), kIdOk) << c.type;
    ASSERT_EQ(answerer.answered(), 1) << c.type;
    EXPECT_FALSE(answerer.timed_out());
    EXPECT_EQ(seen.icon, c.icon) << c.type;
    EXPECT_EQ(seen.on_top, c.on_top) << c.type;
    EXPECT_EQ(seen.modality, Qt::ApplicationModal) << c.type;
    EXPECT_FALSE(seen.has_owner);
    EXPECT_EQ(seen.buttons, 1);
    EXPECT_EQ(seen.text, "Error opening DB");
    EXPECT_EQ(seen.caption, "Mac Burn");
  }
}

TEST(QtMessageBoxTest, Big5WarningReadsAsChinese) {
  const std::string text_b = "\xA4\xA3\xAC\x4F PX100 Class B, \xBD\xD0\xA7\xF3\xB4\xAB!!";
  SeenBox seen;
  ModalAnswerer answerer(PressOk(&seen));
  EXPECT_EQ(ShowMessageBox(text_b, "Read Module", 4112), kIdOk);
  ASSERT_EQ(answerer.answered(), 1);
  EXPECT_EQ(seen.text.toStdString(), "不是 PX100 Class B, 請更換!!");
  EXPECT_EQ(seen.caption, "Read Module");
  // Something must draw it, or the operator reads empty boxes.
  EXPECT_FALSE(QFontDatabase::families(QFontDatabase::TraditionalChinese).isEmpty());
}

TEST(QtMessageBoxTest, TextIsPlainAndClosingWithEscapeCountsAsOk) {
  SeenBox seen;
  ModalAnswerer answerer([&seen](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    seen.text = box->text();
    EXPECT_EQ(box->textFormat(), Qt::PlainText);
    QTest::keyClick(box, Qt::Key_Escape);
  });
  EXPECT_EQ(ShowMessageBox("<b>a</b>\nb", "Info", 48), kIdOk);
  ASSERT_EQ(answerer.answered(), 1);
  EXPECT_EQ(seen.text, "<b>a</b>\nb");
}

class QtFileDialogTest : public InTempDir {
 protected:
  std::string MakeFile(const std::filesystem::path& path) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << "x";
    return std::filesystem::absolute(path).string();
  }

  QtPage page_;
};

// Checks what the dialog offers, then chooses the file (or cancels on an empty path).
ModalAnswerer::Answer Choose(const std::string& path, QStringList* filters, QString* selected,
                             bool* existing_only) {
  return [=](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    *filters = dialog->nameFilters();
    *selected = dialog->selectedNameFilter();
    *existing_only = dialog->fileMode() == QFileDialog::ExistingFile;
    if (path.empty()) {
      dialog->reject();
      return;
    }
    dialog->selectFile(QString::fromStdString(path));
    static_cast<QDialog*>(dialog)->accept();  // public in QDialog
  };
}

TEST_F(QtFileDialogTest, OffersTheFiltersInOrderWithTheFirstSelectedAndReturnsThePath) {
  const std::string file = MakeFile("db/cam.txt");
  QStringList filters;
  QString selected;
  bool existing_only = false;
  ModalAnswerer answerer(Choose(file, &filters, &selected, &existing_only));
  const auto path = page_.OpenFileDialog(DatabaseFileDialogRequest());
  ASSERT_EQ(answerer.answered(), 1);
  ASSERT_TRUE(path.has_value());
  EXPECT_EQ(*path, file);
  EXPECT_EQ(filters, QStringList({"ALL (*.db;*.txt) (*.db *.txt)", "Text (*.txt) (*.txt)",
                                  "DB (*.db) (*.db)"}));
  // The dialog names the selected filter by what it lists.
  EXPECT_EQ(selected, "ALL (*.db;*.txt)");
  EXPECT_TRUE(existing_only);
}

TEST_F(QtFileDialogTest, ListsEachFilterByItsDisplayText) {
  QStringList listed;
  ModalAnswerer answerer([&listed](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    auto* combo = dialog->findChild<QComboBox*>("fileTypeCombo");
    ASSERT_NE(combo, nullptr);
    for (int i = 0; i < combo->count(); ++i) listed << combo->itemText(i);
    dialog->reject();
  });
  EXPECT_FALSE(page_.OpenFileDialog(DatabaseFileDialogRequest()).has_value());
  ASSERT_EQ(answerer.answered(), 1);
  EXPECT_EQ(listed, QStringList({"ALL (*.db;*.txt)", "Text (*.txt)", "DB (*.db)"}));
}

TEST_F(QtFileDialogTest, CancelledOrTooLongPathsReturnNothing) {
  QStringList filters;
  QString selected;
  bool existing_only = false;
  {
    ModalAnswerer answerer(Choose("", &filters, &selected, &existing_only));
    EXPECT_FALSE(page_.OpenFileDialog(DatabaseFileDialogRequest()).has_value());
    EXPECT_EQ(answerer.answered(), 1);
  }

  // A path of exactly max_path - 1 bytes fits the buffer; one more does not.
  FileDialogRequest request = DatabaseFileDialogRequest();
  const std::string file = MakeFile("d/name.db");
  request.max_path = file.size() + 1;
  {
    ModalAnswerer answerer(Choose(file, &filters, &selected, &existing_only));
    EXPECT_EQ(page_.OpenFileDialog(request).value_or("<none>"), file);
  }
  request.max_path = file.size();
  {
    ModalAnswerer answerer(Choose(file, &filters, &selected, &existing_only));
    EXPECT_FALSE(page_.OpenFileDialog(request).has_value());
    EXPECT_EQ(answerer.answered(), 1);
  }
  // The station's own 256-byte buffer and a path of 300 bytes.
  const std::string deep = MakeFile(std::string(120, 'a') + "/" + std::string(120, 'b') + "/" +
                                    std::string(60, 'c') + ".db");
  ASSERT_GT(deep.size(), kDatabasePathSize - 1);
  {
    ModalAnswerer answerer(Choose(deep, &filters, &selected, &existing_only));
    EXPECT_FALSE(page_.OpenFileDialog(DatabaseFileDialogRequest()).has_value());
    EXPECT_EQ(answerer.answered(), 1);
  }
}

TEST_F(QtFileDialogTest, PreselectsTheRequestedFilter) {
  FileDialogRequest request = DatabaseFileDialogRequest();
  request.filter_index = 3;
  QStringList filters;
  QString selected;
  bool existing_only = false;
  ModalAnswerer answerer(Choose("", &filters, &selected, &existing_only));
  page_.OpenFileDialog(request);
  ASSERT_EQ(answerer.answered(), 1);
  EXPECT_EQ(selected, "DB (*.db)");
}

}  // namespace
}  // namespace stampwright
