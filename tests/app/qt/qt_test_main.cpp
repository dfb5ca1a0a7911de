// One application object for every window test; the tests run offscreen unless told otherwise.

#include <gtest/gtest.h>

#include <QApplication>
#include <memory>

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  // Listing the tests needs no display at all.
  std::unique_ptr<QApplication> app;
  if (!GTEST_FLAG_GET(list_tests)) {
    // The toolkit's own file dialog, so that a test can find it and answer it.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    app = std::make_unique<QApplication>(argc, argv);
  }
  return RUN_ALL_TESTS();
}
