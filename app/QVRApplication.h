// The application object: its title, and the top-level error handler that
// shows an error escaping an event handler instead of letting it unwind
// through the toolkit's event loop.
#pragma once

#include <QApplication>
#include <QString>
#include <exception>
#include <functional>
#include <string>

namespace qvr::app {

class TQVRApplication : public QApplication {
 public:
  TQVRApplication(int& argc, char** argv);

  // The application title: the caption of every message box the program shows.
  static QString Title();
  static void SetTitle(const QString& ATitle);

  // Shows AError in a stop-icon box captioned with the title; the silent
  // abort shows nothing. The program keeps running.
  static void HandleException(const std::exception& AError);
  static void HandleUnknownException();

  // The text the handler shows for AMessage: a "." is added when the code of
  // the last character is greater than that of ".".
  static QString ErrorText(const std::string& AMessage);

  bool notify(QObject* AReceiver, QEvent* AEvent) override;
};

// Runs AHandler; an exception it raises goes to the top-level handler. Every
// slot the program connects runs through this, so no exception reaches the
// toolkit's code.
void RunGuarded(const std::function<void()>& AHandler);

}  // namespace qvr::app
