// The options window; see fMainOpciones.h.
#include "app/fMainOpciones.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QScreen>
#include <algorithm>

#include "app/QVRApplication.h"
#include "app/uMensajesXE.h"
#include "client/dOpciones.h"
#include "client/uGuardarConexion.h"

namespace qvr::app {

TfrmMainOpciones* frmMainOpciones = nullptr;

namespace {

// The button keeps its distance to the bottom-right corner.
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;
constexpr int kButtonRight = TfrmMainOpciones::kClientWidth - 541;
constexpr int kButtonBottom = TfrmMainOpciones::kClientHeight - 408;

// "Segoe UI" at 12 pixels (9 points at 96 dpi), the face the layout was drawn
// for. Where it is missing, the usual Linux face is narrowed to its metrics so
// that the captions fit their places; AFits tells whether that is known, or
// whether the labels must measure their captions.
QFont WindowFont(bool& AFits) {
  // Asking for a missing family makes the font database search every face for
  // a substitute, which costs more than the rest of the start-up; check first.
  QFont font = QApplication::font();
  font.setPixelSize(12);
  AFits = true;
  if (QFontDatabase::hasFamily(QStringLiteral("Segoe UI"))) {
    font.setFamily(QStringLiteral("Segoe UI"));
    return font;
  }
  if (QFontDatabase::hasFamily(QStringLiteral("DejaVu Sans"))) {
    // Measured once: with its letters at 86 % of their advance every caption
    // fits its place (a narrowed face would cost a font engine of its own), so
    // no face is loaded at start-up just to measure it.
    font.setFamily(QStringLiteral("DejaVu Sans"));
    font.setLetterSpacing(QFont::PercentageSpacing, 86);
    return font;
  }
  constexpr int kCaptionWidth = 67;  // "Servidor (IP):" in the layout's face
  const int width = QFontMetrics(font).horizontalAdvance(QStringLiteral("Servidor (IP):"));
  if (width > kCaptionWidth) font.setStretch(std::max(75, 100 * kCaptionWidth / width));
  AFits = false;
  return font;
}

}  // namespace

TfrmMainOpciones::TfrmMainOpciones(QWidget* AParent)
    : QWidget(AParent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint) {
  // 1. The window and its button, as described.
  setObjectName("frmMainOpciones");
  setWindowTitle(QStringLiteral("Opciones de conexíón a servidor web"));
  setFixedSize(kClientWidth, kClientHeight);
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, pal.color(QPalette::Button));
  setPalette(pal);
  bool fontFits = true;
  setFont(WindowFont(fontFits));

  btnAceptar = new QPushButton(QStringLiteral("Guardar"), this);
  btnAceptar->setObjectName("btnAceptar");
  btnAceptar->setGeometry(541, 408, kButtonWidth, kButtonHeight);
  // Neither default nor cancel button: Enter in an edit saves nothing.
  btnAceptar->setAutoDefault(false);
  btnAceptar->setDefault(false);
  connect(btnAceptar, &QPushButton::clicked, this,
          [this]() { RunGuarded([this]() { btnAceptarClick(); }); });

  // 2-3. The frame, owned through the window's child tree, fills the client area.
  fraConexionWeb = new TfraConexionWeb(this);
  fraConexionWeb->setGeometry(0, 0, width(), height());
  // Shaping the captions costs start-up time; only an unknown face needs it.
  if (!fontFits) fraConexionWeb->AutoSizeLabels();

  // 4-6. The edits show what config.ini holds.
  auto& config = client::dmOpciones->config();
  fraConexionWeb->edServidor->setText(QString::fromStdString(config.IP()));
  fraConexionWeb->edPuerto->setText(QString::number(config.Puerto()));
  fraConexionWeb->edUID->setText(QString::fromStdString(config.UID()));

  // 7. Behind the button, so that it stays visible and clickable.
  fraConexionWeb->lower();

  // The button comes first in the tab order, then the frame's edits.
  setTabOrder(btnAceptar, fraConexionWeb->edServidor);
  btnAceptar->setFocus();
}

TfrmMainOpciones::~TfrmMainOpciones() {
  delete fraConexionWeb;
  fraConexionWeb = nullptr;
  if (frmMainOpciones == this) frmMainOpciones = nullptr;
}

void TfrmMainOpciones::btnAceptarClick() {
  const client::TConexionTextos textos{fraConexionWeb->edServidor->text().toStdString(),
                                       fraConexionWeb->edPuerto->text().toStdString(),
                                       fraConexionWeb->edUID->text().toStdString()};
  if (!client::GuardarConexion(client::dmOpciones->config(), textos))
    MostrarError(QString::fromUtf8(client::kPuertoNoNumerico));
}

void TfrmMainOpciones::resizeEvent(QResizeEvent* AEvent) {
  QWidget::resizeEvent(AEvent);
  btnAceptar->move(width() - kButtonRight, height() - kButtonBottom);
  if (fraConexionWeb != nullptr) fraConexionWeb->setGeometry(0, 0, width(), height());
}

void TfrmMainOpciones::showEvent(QShowEvent* AEvent) {
  // Centred on the screen when first shown.
  if (!FCentred) {
    FCentred = true;
    if (const QScreen* screen = this->screen()) {
      const QRect area = screen->availableGeometry();
      move(area.center() - QPoint(width() / 2, height() / 2));
    }
  }
  QWidget::showEvent(AEvent);
}

}  // namespace qvr::app
