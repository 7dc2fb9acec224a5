// The suite's message boxes: a modal box over the active window, and the error
// box captioned with the application title.
#pragma once

#include <QString>

namespace qvr::app {

// Box flags, combined with "|": one button set and one icon.
enum TMessageFlags : unsigned {
  MB_OK = 0x0,
  MB_OKCANCEL = 0x1,
  MB_YESNO = 0x4,
  MB_ICONSTOP = 0x10,
  MB_ICONQUESTION = 0x20,
  MB_ICONWARNING = 0x30,
  MB_ICONINFORMATION = 0x40,
};

// The button the user pressed.
enum TMessageResult : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

// Shows a modal box over the active window and returns the button pressed.
int MostrarMensaje(const QString& AText, const QString& ACaption, unsigned AFlags);

// An error box: the application title as caption, the stop icon, one OK button.
void MostrarError(const QString& AText);

}  // namespace qvr::app
