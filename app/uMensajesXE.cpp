// Message boxes; see uMensajesXE.h.
#include "app/uMensajesXE.h"

#include <QApplication>
#include <QMessageBox>

#include "app/QVRApplication.h"

namespace qvr::app {

int MostrarMensaje(const QString& AText, const QString& ACaption, unsigned AFlags) {
  QMessageBox box(QApplication::activeWindow());
  box.setWindowTitle(ACaption);
  box.setText(AText);
  switch (AFlags & 0xF0) {
    case MB_ICONSTOP:
      box.setIcon(QMessageBox::Critical);
      break;
    case MB_ICONQUESTION:
      box.setIcon(QMessageBox::Question);
      break;
    case MB_ICONWARNING:
      box.setIcon(QMessageBox::Warning);
      break;
    case MB_ICONINFORMATION:
      box.setIcon(QMessageBox::Information);
      break;
    default:
      box.setIcon(QMessageBox::NoIcon);
  }
  switch (AFlags & 0x0F) {
    case MB_OKCANCEL:
      box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
      break;
    case MB_YESNO:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      break;
    default:
      box.setStandardButtons(QMessageBox::Ok);
  }
  switch (box.exec()) {
    case QMessageBox::Cancel:
      return IDCANCEL;
    case QMessageBox::Yes:
      return IDYES;
    case QMessageBox::No:
      return IDNO;
    default:
      return IDOK;
  }
}

void MostrarError(const QString& AText) {
  MostrarMensaje(AText, TQVRApplication::Title(), MB_OK | MB_ICONSTOP);
}

}  // namespace qvr::app
