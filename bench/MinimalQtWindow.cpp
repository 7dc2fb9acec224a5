// The reference for the start-up benchmark: the smallest Qt Widgets program
// that shows a window, ending as soon as its event loop runs, as the start-up
// probe of QVROpciones does.
#include <QApplication>
#include <QTimer>
#include <QWidget>

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QWidget window;
  window.resize(624, 441);
  window.show();
  QTimer::singleShot(0, &application, &QCoreApplication::quit);
  return application.exec();
}
