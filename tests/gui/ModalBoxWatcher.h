// Closes the next modal message box from inside its own event loop and keeps
// what it showed, so that a test that makes the window open a box neither
// hangs nor has to guess what was shown.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <memory>
#include <optional>

namespace qvr::test {

struct TShownBox {
  QString Caption;
  QString Text;
  QMessageBox::Icon Icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons Buttons;
};

class TModalBoxWatcher {
 public:
  // Arms the watcher: it looks for a modal box every few milliseconds until it
  // closes one, gives up after about two seconds, or is destroyed.
  TModalBoxWatcher() : FState(std::make_shared<TState>()) { Poll(FState, 0); }
  ~TModalBoxWatcher() { FState->Cancelled = true; }
  TModalBoxWatcher(const TModalBoxWatcher&) = delete;
  TModalBoxWatcher& operator=(const TModalBoxWatcher&) = delete;

  const std::optional<TShownBox>& Shown() const { return FState->Shown; }

 private:
  struct TState {
    std::optional<TShownBox> Shown;
    bool Cancelled = false;
  };

  static void Poll(const std::shared_ptr<TState>& AState, int AAttempt) {
    QTimer::singleShot(AAttempt == 0 ? 0 : 10, [AState, AAttempt]() {
      if (AState->Cancelled) return;
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        AState->Shown =
            TShownBox{box->windowTitle(), box->text(), box->icon(), box->standardButtons()};
        if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
          ok->click();
        } else {
          box->reject();
        }
        return;
      }
      if (AAttempt < 200) Poll(AState, AAttempt + 1);
    });
  }

  std::shared_ptr<TState> FState;
};

}  // namespace qvr::test
