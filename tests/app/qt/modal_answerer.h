#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <vector>

namespace stampwright::qt_test {

// Answers the modal windows that open while a test runs a blocking call: each one is handed to
// the next answer in turn, which inspects it and closes it. Polls on a timer of its own, so it
// works inside the modal's event loop; gives up after a bounded time so a test never hangs.
class ModalAnswerer {
 public:
  using Answer = std::function<void(QWidget*)>;

  explicit ModalAnswerer(std::vector<Answer> answers, int limit_ms = 10000)
      : answers_(std::move(answers)), limit_ms_(limit_ms) {
    clock_.start();
    QObject::connect(&poll_, &QTimer::timeout, &poll_, [this] { Poll(); });
    poll_.start(5);
  }
  explicit ModalAnswerer(Answer answer, int limit_ms = 10000)
      : ModalAnswerer(std::vector<Answer>{std::move(answer)}, limit_ms) {}

  int answered() const { return answered_; }
  bool timed_out() const { return timed_out_; }

 private:
  void Poll() {
    if (clock_.elapsed() > limit_ms_) {
      timed_out_ = true;
      // Unblock whatever waits, so that the test can fail instead of hanging.
      if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
      poll_.stop();
      return;
    }
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal == last_) return;
    if (static_cast<size_t>(answered_) >= answers_.size()) return;
    last_ = modal;
    answers_[static_cast<size_t>(answered_++)](modal);
    if (static_cast<size_t>(answered_) >= answers_.size()) poll_.stop();
  }

  std::vector<Answer> answers_;
  int limit_ms_;
  QElapsedTimer clock_;
  QTimer poll_;
  QPointer<QWidget> last_;  // a later box may be built where a destroyed one was
  int answered_ = 0;
  bool timed_out_ = false;
};

}  // namespace stampwright::qt_test
