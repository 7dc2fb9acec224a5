// The connection frame: server address, port and UID edits with their labels.
// It keeps its edits' distance to its right edge when it is resized, as the
// controls are anchored left, top and right.
#pragma once

#include <QFrame>
#include <QLabel>
#include <QLineEdit>

namespace qvr::app {

class TfraConexionWeb : public QFrame {
 public:
  // The frame's size in its description; it is aligned to fill its parent.
  static constexpr int kDesignWidth = 640;
  static constexpr int kDesignHeight = 480;

  explicit TfraConexionWeb(QWidget* AParent = nullptr);

  // Sizes the labels to their captions in the font they are shown in, so
  // that a face wider than the layout's cuts no caption. Runs by itself when
  // the frame's font changes.
  void AutoSizeLabels();

  QLabel* lblServidor;
  QLabel* lblPuerto;
  QLabel* lblUID;
  QLineEdit* edServidor;
  QLineEdit* edPuerto;
  QLineEdit* edUID;

 protected:
  void resizeEvent(QResizeEvent* AEvent) override;
  void changeEvent(QEvent* AEvent) override;

 private:
  void PlaceAnchored();
};

}  // namespace qvr::app
