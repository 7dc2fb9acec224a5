// The connection frame; see fConexionWeb.h.
#include "app/fConexionWeb.h"

#include <QEvent>

namespace qvr::app {

namespace {

// The edits' design geometry: left 81, width 536 in a 640-pixel frame, so 23
// pixels stay to the right edge whatever the frame's width.
constexpr int kEditLeft = 81;
constexpr int kEditWidth = 536;
constexpr int kEditHeight = 23;
constexpr int kEditRightMargin = TfraConexionWeb::kDesignWidth - kEditLeft - kEditWidth;

QLabel* MakeLabel(QWidget* AParent, const char* AName, const QString& ACaption, int ALeft, int ATop,
                  int AWidth) {
  auto* label = new QLabel(ACaption, AParent);
  label->setObjectName(AName);
  label->setGeometry(ALeft, ATop, AWidth, 15);
  return label;
}

QLineEdit* MakeEdit(QWidget* AParent, const char* AName, int ATop) {
  auto* edit = new QLineEdit(AParent);
  edit->setObjectName(AName);
  edit->setGeometry(kEditLeft, ATop, kEditWidth, kEditHeight);
  return edit;
}

}  // namespace

TfraConexionWeb::TfraConexionWeb(QWidget* AParent) : QFrame(AParent) {
  setObjectName("fraConexionWeb");
  setFrameShape(QFrame::NoFrame);
  resize(kDesignWidth, kDesignHeight);
  // Creation order fixes the stacking and the default tab order.
  lblServidor = MakeLabel(this, "lblServidor", QStringLiteral("Servidor (IP):"), 8, 16, 67);
  lblPuerto = MakeLabel(this, "lblPuerto", QStringLiteral("Puerto:"), 8, 56, 38);
  lblUID = MakeLabel(this, "lblUID", QStringLiteral("UID:"), 8, 96, 22);
  edServidor = MakeEdit(this, "edServidor", 13);
  edPuerto = MakeEdit(this, "edPuerto", 53);
  edUID = MakeEdit(this, "edUID", 93);
  setTabOrder(edServidor, edPuerto);
  setTabOrder(edPuerto, edUID);
}

void TfraConexionWeb::changeEvent(QEvent* AEvent) {
  QFrame::changeEvent(AEvent);
  if (AEvent->type() == QEvent::FontChange) AutoSizeLabels();
}

void TfraConexionWeb::AutoSizeLabels() {
  for (QLabel* label : {lblServidor, lblPuerto, lblUID}) {
    label->resize(label->fontMetrics().horizontalAdvance(label->text()), label->height());
  }
}

void TfraConexionWeb::resizeEvent(QResizeEvent* AEvent) {
  QFrame::resizeEvent(AEvent);
  PlaceAnchored();
}

void TfraConexionWeb::PlaceAnchored() {
  const int width = std::max(0, this->width() - kEditLeft - kEditRightMargin);
  for (QLineEdit* edit : {edServidor, edPuerto, edUID}) {
    edit->setGeometry(kEditLeft, edit->y(), width, kEditHeight);
  }
}

}  // namespace qvr::app
