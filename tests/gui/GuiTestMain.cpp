// Entry of the window tests: the program's own application object on Qt's
// offscreen platform, then GoogleTest.
#include <gtest/gtest.h>

#include "app/QVRApplication.h"

namespace {

// The offscreen platform warns about every fixed-size window; keep the output
// to what matters.
void QuietHandler(QtMsgType AType, const QMessageLogContext& AContext, const QString& AMessage) {
  if (AMessage.contains(QStringLiteral("propagateSizeHints"))) return;
  qt_message_output(AType, AContext, AMessage);
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qInstallMessageHandler(QuietHandler);
  qvr::app::TQVRApplication application(argc, argv);
  qvr::app::TQVRApplication::SetTitle(QStringLiteral("Opciones de conexión"));
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
