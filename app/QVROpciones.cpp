// Program entry of the connection-options utility. It creates the client data
// module, then the options window, and runs the event loop until the window
// closes; the window is destroyed first and the data module last.
#include <unistd.h>

#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/QVRApplication.h"
#include "app/fMainOpciones.h"
#include "client/dOpciones.h"

namespace {

constexpr const char* kNoDisplay =
    "QVROpciones needs a desktop session or Xvfb to show its window, and no display is "
    "available (set DISPLAY, for example by starting Xvfb).\n";

bool HasDisplay() {
  // The toolkit aborts with a trace when it finds no display; tell the user in
  // one sentence instead.
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

// While the application object starts, the toolkit's only fatal message is a
// display that cannot be reached: say so in one sentence and end without the
// toolkit's abort. Its warnings about the same failure are left unsaid.
void StartupMessage(QtMsgType AType, const QMessageLogContext&, const QString&) {
  if (AType != QtFatalMsg) return;
  const char* display = std::getenv("DISPLAY");
  if (display != nullptr && *display != '\0') {
    std::fprintf(stderr,
                 "QVROpciones needs a desktop session or Xvfb to show its window, and the "
                 "display \"%s\" cannot be reached.\n",
                 display);
  } else {
    std::fputs(kNoDisplay, stderr);
  }
  _exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace qvr;
  if (!HasDisplay()) {
    std::fputs(kNoDisplay, stderr);
    return 1;
  }
  qInstallMessageHandler(StartupMessage);

  // 1. The application object.
  app::TQVRApplication application(argc, argv);
  qInstallMessageHandler(nullptr);
  // 2. The main window is a top-level window with its own taskbar entry on
  // every Linux desktop; nothing to set.
  // 3. The title of every message box.
  app::TQVRApplication::SetTitle(QStringLiteral("Opciones de conexión"));

  std::unique_ptr<client::TdmOpciones> dm;
  std::unique_ptr<app::TfrmMainOpciones> window;
  bool started = false;
  app::RunGuarded([&]() {
    // 4. The data module, then 5. the window, which reads it.
    dm = std::make_unique<client::TdmOpciones>();
    client::dmOpciones = dm.get();
    window = std::make_unique<app::TfrmMainOpciones>();
    app::frmMainOpciones = window.get();
    window->show();
    started = true;
  });
  int code = 1;
  if (started) {
#ifdef QVR_STARTUP_PROBE
    // Start-up measurement: end as soon as the event loop runs with the window shown.
    QTimer::singleShot(0, &application, &QCoreApplication::quit);
#endif
    // 6. The event loop until the main window is closed.
    code = application.exec();
  }
  window.reset();
  client::dmOpciones = nullptr;
  dm.reset();
  return code;
}
