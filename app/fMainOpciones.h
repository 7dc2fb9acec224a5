// The options window: the connection frame filled from config.ini and the
// "Guardar" button that writes the three values back.
#pragma once

#include <QPushButton>
#include <QWidget>

#include "app/fConexionWeb.h"

namespace qvr::app {

class TfrmMainOpciones : public QWidget {
 public:
  static constexpr int kClientWidth = 624;
  static constexpr int kClientHeight = 441;

  // Builds the window and its button, creates the frame filling the client
  // area, fills the edits from dmOpciones.config and sends the frame behind
  // the button. Needs the data module dmOpciones.
  explicit TfrmMainOpciones(QWidget* AParent = nullptr);
  // Releases the frame first, then the window.
  ~TfrmMainOpciones() override;

  QPushButton* btnAceptar;
  TfraConexionWeb* fraConexionWeb = nullptr;

  // The save handler: converts the port text, shows "El puerto debe ser
  // numerico" when it does not convert, else writes IP, Puerto and UID in this
  // order, each at once. A refused write raises and stops there.
  void btnAceptarClick();

 protected:
  void resizeEvent(QResizeEvent* AEvent) override;
  void showEvent(QShowEvent* AEvent) override;

 private:
  bool FCentred = false;
};

// The program's window while it exists (not owned).
extern TfrmMainOpciones* frmMainOpciones;

}  // namespace qvr::app
