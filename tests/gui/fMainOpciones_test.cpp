// The options window driven as a person would, on Qt's offscreen platform:
// what it shows, what "Guardar" writes, and the error boxes.
#include "app/fMainOpciones.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QSignalSpy>
#include <QTest>
#include <memory>

#include "ModalBoxWatcher.h"
#include "app/QVRApplication.h"
#include "client/dOpciones.h"
#include "platform/SysUtils.h"
#include "support/ConfigFolder.h"
#include "support/ConfigSamples.h"

namespace qvr::app {
namespace {

using test::kCanada1252;
using test::kWindows1252Config;
using test::TConfigFolder;
using test::TModalBoxWatcher;

class TfrmMainOpcionesTest : public ::testing::Test {
 protected:
  // Starts the way the program does: data module, then window, shown.
  void Start() {
    FDataModule = std::make_unique<client::TdmOpciones>();
    client::dmOpciones = FDataModule.get();
    FWindow = std::make_unique<TfrmMainOpciones>();
    FWindow->show();
    QApplication::setActiveWindow(FWindow.get());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(FWindow.get()));
  }

  void TearDown() override {
    FWindow.reset();
    client::dmOpciones = nullptr;
    FDataModule.reset();
  }

  QLineEdit* Servidor() { return FWindow->fraConexionWeb->edServidor; }
  QLineEdit* Puerto() { return FWindow->fraConexionWeb->edPuerto; }
  QLineEdit* UID() { return FWindow->fraConexionWeb->edUID; }

  static void Retype(QLineEdit* AEdit, const QString& AText) {
    AEdit->setFocus();
    AEdit->selectAll();
    QTest::keyClick(AEdit, Qt::Key_Delete);
    for (const QChar c : AText) {
      // QTest knows the keys of ASCII only; a keyboard's other characters
      // arrive as the text of a key event, as an input method sends them.
      if (c.unicode() < 0x80) {
        QTest::keyClick(AEdit, c.toLatin1());
      } else {
        QTest::sendKeyEvent(QTest::Click, AEdit, Qt::Key_unknown, QString(c), Qt::NoModifier);
      }
    }
  }

  void ClickGuardar() { QTest::mouseClick(FWindow->btnAceptar, Qt::LeftButton); }

  TConfigFolder FConfig;
  std::unique_ptr<client::TdmOpciones> FDataModule;
  std::unique_ptr<TfrmMainOpciones> FWindow;
};

TEST_F(TfrmMainOpcionesTest, LayoutAsDescribed) {
  Start();
  EXPECT_EQ(FWindow->windowTitle(), QStringLiteral("Opciones de conexíón a servidor web"));
  EXPECT_EQ(FWindow->size(), QSize(624, 441));
  EXPECT_EQ(FWindow->minimumSize(), FWindow->maximumSize()) << "fixed size";
  const Qt::WindowFlags flags = FWindow->windowFlags();
  EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_TRUE(flags.testFlag(Qt::WindowSystemMenuHint));

  EXPECT_EQ(FWindow->btnAceptar->text(), QStringLiteral("Guardar"));
  EXPECT_EQ(FWindow->btnAceptar->geometry(), QRect(541, 408, 75, 25));
  EXPECT_FALSE(FWindow->btnAceptar->isDefault());
  EXPECT_FALSE(FWindow->btnAceptar->autoDefault());

  const TfraConexionWeb* frame = FWindow->fraConexionWeb;
  EXPECT_EQ(frame->geometry(), QRect(0, 0, 624, 441)) << "the frame fills the client area";
  EXPECT_EQ(frame->lblServidor->text(), QStringLiteral("Servidor (IP):"));
  EXPECT_EQ(frame->lblPuerto->text(), QStringLiteral("Puerto:"));
  EXPECT_EQ(frame->lblUID->text(), QStringLiteral("UID:"));
  EXPECT_EQ(frame->lblServidor->pos(), QPoint(8, 16));
  EXPECT_EQ(frame->lblPuerto->pos(), QPoint(8, 56));
  EXPECT_EQ(frame->lblUID->pos(), QPoint(8, 96));
  for (const QLabel* label : {frame->lblServidor, frame->lblPuerto, frame->lblUID}) {
    EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text()))
        << "captions are never cut: " << label->text().toStdString();
    EXPECT_LE(label->x() + label->width(), 81) << "nor hidden under the edits";
  }
  // Anchored left, top and right: 23 pixels stay to the right edge.
  EXPECT_EQ(frame->edServidor->geometry(), QRect(81, 13, 520, 23));
  EXPECT_EQ(frame->edPuerto->geometry(), QRect(81, 53, 520, 23));
  EXPECT_EQ(frame->edUID->geometry(), QRect(81, 93, 520, 23));

  // The frame lies behind the button.
  const QObjectList& children = FWindow->children();
  EXPECT_LT(children.indexOf(FWindow->fraConexionWeb), children.indexOf(FWindow->btnAceptar));
  EXPECT_EQ(FWindow->childAt(560, 420), FWindow->btnAceptar);
}

TEST_F(TfrmMainOpcionesTest, AnchoredEditsFollowTheFrameWidth) {
  Start();
  TfraConexionWeb frame;
  frame.show();
  frame.resize(800, 480);
  EXPECT_EQ(frame.edUID->geometry(), QRect(81, 93, 696, 23));
  frame.resize(640, 480);
  EXPECT_EQ(frame.edUID->geometry(), QRect(81, 93, 536, 23));
}

TEST_F(TfrmMainOpcionesTest, TabOrderStartsAtTheButton) {
  Start();
  EXPECT_EQ(QApplication::focusWidget(), FWindow->btnAceptar) << "tab order 0 starts focused";
  const QWidget* expected[] = {Servidor(), Puerto(), UID(), FWindow->btnAceptar};
  for (const QWidget* next : expected) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), next);
  }
}

TEST_F(TfrmMainOpcionesTest, FilledFromConfigIni) {
  FConfig.Write("[rest]\nIP=10.0.0.5\nPuerto=0x1F91\nUID=kiosco\n");
  Start();
  EXPECT_EQ(Servidor()->text(), "10.0.0.5");
  EXPECT_EQ(Puerto()->text(), "8081");
  EXPECT_EQ(UID()->text(), "kiosco");
}

TEST_F(TfrmMainOpcionesTest, DefaultsWithoutConfigIni) {
  Start();
  EXPECT_EQ(Servidor()->text(), "127.0.0.1");
  EXPECT_EQ(Puerto()->text(), "8080");
  EXPECT_EQ(UID()->text(), "");
}

TEST_F(TfrmMainOpcionesTest, GuardarWritesTheThreeValues) {
  Start();
  Retype(Servidor(), "192.168.1.20");
  Retype(Puerto(), "8080");
  Retype(UID(), "caja1");
  TModalBoxWatcher watcher;
  ClickGuardar();
  EXPECT_FALSE(watcher.Shown().has_value()) << "success shows nothing";
  EXPECT_EQ(FConfig.Read(), "[rest]\nIP=192.168.1.20\nPuerto=8080\nUID=caja1\n");
  EXPECT_TRUE(FWindow->isVisible());
  EXPECT_EQ(UID()->text(), "caja1") << "the edits keep what was typed";

  // Pressing again with the same values leaves the same file.
  ClickGuardar();
  EXPECT_EQ(FConfig.Read(), "[rest]\nIP=192.168.1.20\nPuerto=8080\nUID=caja1\n");
}

TEST_F(TfrmMainOpcionesTest, AWindows1252ConfigIsShownAndSavedInItsEncoding) {
  FConfig.Write(kWindows1252Config);
  Start();
  EXPECT_EQ(Servidor()->text(), "192.168.1.10");
  EXPECT_EQ(Puerto()->text(), "8080");
  EXPECT_EQ(UID()->text(), QStringLiteral("Ca\u00F1ada"));

  const auto save = [this]() {
    TModalBoxWatcher watcher;
    ClickGuardar();
    EXPECT_FALSE(watcher.Shown().has_value()) << "the save failed";
  };
  save();
  EXPECT_EQ(FConfig.Read(), kWindows1252Config) << "a save without changes changes no byte";

  Retype(UID(), QStringLiteral("Pe\u00F1\u00F3n"));
  save();
  EXPECT_EQ(FConfig.Read(),
            "[rest]\r\nIP=192.168.1.10\r\nPuerto=8080\r\nUID=Pe\xF1\xF3n\r\n"
            "[Ventana]\r\nTitulo=Recepci\xF3n\r\n");

  // A name Windows-1252 cannot hold: the whole file becomes UTF-8.
  Retype(UID(), QStringLiteral("\u0141\u00F3d\u017A"));
  save();
  EXPECT_EQ(FConfig.Read(),
            "[rest]\r\nIP=192.168.1.10\r\nPuerto=8080\r\nUID=\u0141\u00F3d\u017A\r\n"
            "[Ventana]\r\nTitulo=Recepci\u00F3n\r\n");
}

struct TPortCase {
  const char* Typed;
  const char* Stored;
};

const TPortCase kGoodPorts[] = {
    {"  8080", "8080"}, {"-1", "-1"}, {"0x1F90", "8080"},
    {"$1F90", "8080"},  {"0", "0"},   {"70000", "70000"},
};

TEST_F(TfrmMainOpcionesTest, PortsAreStoredAsConverted) {
  Start();
  for (const auto& c : kGoodPorts) {
    Retype(Puerto(), c.Typed);
    ClickGuardar();
    EXPECT_EQ(FDataModule->config().Puerto(), std::atoi(c.Stored)) << c.Typed;
    EXPECT_NE(FConfig.Read().find(std::string("Puerto=") + c.Stored + "\n"), std::string::npos)
        << c.Typed;
  }
}

const char* const kBadPorts[] = {"", "8080 ", "80 80", "abc", "8080a", "99999999999"};

TEST_F(TfrmMainOpcionesTest, ABadPortShowsTheErrorAndWritesNothing) {
  Start();
  for (const char* typed : kBadPorts) {
    Retype(Servidor(), "otro");
    Retype(Puerto(), typed);
    TModalBoxWatcher watcher;
    ClickGuardar();
    ASSERT_TRUE(watcher.Shown().has_value()) << '"' << typed << '"';
    EXPECT_EQ(watcher.Shown()->Text, QStringLiteral("El puerto debe ser numerico"));
    EXPECT_EQ(watcher.Shown()->Caption, QStringLiteral("Opciones de conexión"));
    EXPECT_EQ(watcher.Shown()->Icon, QMessageBox::Critical);
    EXPECT_EQ(watcher.Shown()->Buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_FALSE(test::PathExists(FConfig.ConfigPath())) << '"' << typed << '"';
    EXPECT_EQ(Puerto()->text(), QString(typed)) << "the window stays as it was";
  }
}

TEST_F(TfrmMainOpcionesTest, EnterAndEscapeDoNothing) {
  Start();
  Retype(Servidor(), "nuevo");
  TModalBoxWatcher watcher;
  for (QWidget* target : {static_cast<QWidget*>(Servidor()), static_cast<QWidget*>(Puerto()),
                          static_cast<QWidget*>(UID())}) {
    target->setFocus();
    QTest::keyClick(target, Qt::Key_Return);
    QTest::keyClick(target, Qt::Key_Enter);
    QTest::keyClick(target, Qt::Key_Escape);
  }
  QTest::qWait(20);
  EXPECT_FALSE(test::PathExists(FConfig.ConfigPath()));
  EXPECT_TRUE(FWindow->isVisible());
  EXPECT_FALSE(watcher.Shown().has_value());
}

TEST_F(TfrmMainOpcionesTest, AReadOnlyConfigShowsTheWriteErrorAndChangesNothing) {
  const std::string before = "[rest]\nIP=10.0.0.5\nPuerto=211\nUID=kiosco\n";
  FConfig.Write(before);
  ASSERT_EQ(::chmod(FConfig.ConfigPath().c_str(), 0444), 0);
  Start();
  Retype(Servidor(), "otro");
  Retype(Puerto(), "9000");
  Retype(UID(), "nadie");
  TModalBoxWatcher watcher;
  ClickGuardar();
  ASSERT_TRUE(watcher.Shown().has_value());
  EXPECT_EQ(watcher.Shown()->Text,
            QString::fromStdString("Unable to write to " + FConfig.ConfigPath() + "."));
  EXPECT_EQ(watcher.Shown()->Caption, QStringLiteral("Opciones de conexión"));
  EXPECT_EQ(watcher.Shown()->Icon, QMessageBox::Critical);
  EXPECT_EQ(FConfig.Read(), before);
  EXPECT_TRUE(FWindow->isVisible()) << "the program keeps running";

  // Once the file is writable again the same window saves.
  ASSERT_EQ(::chmod(FConfig.ConfigPath().c_str(), 0644), 0);
  ClickGuardar();
  EXPECT_EQ(FConfig.Read(), "[rest]\nIP=otro\nPuerto=9000\nUID=nadie\n");
}

struct TErrorTextCase {
  const char* Message;
  const char* Shown;
};

// A "." follows when the last character's code is greater than that of ".".
const TErrorTextCase kErrorTexts[] = {
    {"Unable to write to /x/config.ini", "Unable to write to /x/config.ini."},
    {"Ya termina.", "Ya termina."},
    {"Pregunta!", "Pregunta!"},
    {"Coma,", "Coma,"},
    {"Barra/", "Barra/."},
    {"", ""},
    {"acción", "acción."},
};

TEST(TopLevelHandlerTest, AddsAFinalDotByTheRule) {
  for (const auto& c : kErrorTexts) {
    EXPECT_EQ(TQVRApplication::ErrorText(c.Message), QString::fromUtf8(c.Shown)) << c.Message;
  }
}

TEST(TopLevelHandlerTest, ShowsErrorsAndStaysSilentOnAbort) {
  {
    TModalBoxWatcher watcher;
    RunGuarded([]() { throw Exception("Algo falló"); });
    ASSERT_TRUE(watcher.Shown().has_value());
    EXPECT_EQ(watcher.Shown()->Text, QStringLiteral("Algo falló."));
    EXPECT_EQ(watcher.Shown()->Caption, QStringLiteral("Opciones de conexión"));
  }
  {
    TModalBoxWatcher watcher;
    RunGuarded([]() { throw EAbort(); });
    QTest::qWait(20);
    EXPECT_FALSE(watcher.Shown().has_value());
  }
}

}  // namespace
}  // namespace qvr::app
