// The application object and its top-level error handler; see QVRApplication.h.
#include "app/QVRApplication.h"

#include "app/uMensajesXE.h"
#include "platform/SysUtils.h"
#include "platform/Utf.h"

namespace qvr::app {

namespace {

QString& TitleStorage() {
  static QString title;
  return title;
}

}  // namespace

TQVRApplication::TQVRApplication(int& argc, char** argv) : QApplication(argc, argv) {}

QString TQVRApplication::Title() { return TitleStorage(); }

void TQVRApplication::SetTitle(const QString& ATitle) { TitleStorage() = ATitle; }

QString TQVRApplication::ErrorText(const std::string& AMessage) {
  QString text = QString::fromStdString(SanitizeUtf8(AMessage));
  if (!text.isEmpty() && text.back().unicode() > u'.') text += u'.';
  return text;
}

void TQVRApplication::HandleException(const std::exception& AError) {
  if (dynamic_cast<const EAbort*>(&AError) != nullptr) return;
  MostrarMensaje(ErrorText(AError.what()), Title(), MB_OK | MB_ICONSTOP);
}

void TQVRApplication::HandleUnknownException() {
  MostrarMensaje(ErrorText("Unknown error"), Title(), MB_OK | MB_ICONSTOP);
}

bool TQVRApplication::notify(QObject* AReceiver, QEvent* AEvent) {
  // The last line of defence: handlers are guarded where they are connected,
  // but an exception from an event override would otherwise end the program.
  try {
    return QApplication::notify(AReceiver, AEvent);
  } catch (const std::exception& e) {
    HandleException(e);
  } catch (...) {
    HandleUnknownException();
  }
  return false;
}

void RunGuarded(const std::function<void()>& AHandler) {
  try {
    AHandler();
  } catch (const std::exception& e) {
    TQVRApplication::HandleException(e);
  } catch (...) {
    TQVRApplication::HandleUnknownException();
  }
}

}  // namespace qvr::app
