// plcburn: the desktop window that burns the built-in firmware image into one PLC.

#include <QApplication>

#include "app/qt/dialogs.h"
#include "app/qt/main_window.h"
#include "app/qt/window_options.h"
#include "link/system_opener.h"

int main(int argc, char** argv) {
  if (const auto status = plcburn::AnswerWindowOptions(argc, argv)) return *status;
  QApplication app(argc, argv);
  QGuiApplication::setDesktopFileName(QStringLiteral("plcburn"));
  plcburn::SystemLinkOpener opener;
  plcburn::QtDialogs dialogs;
  plcburn::MainWindow window(opener, dialogs);
  window.show();
  return app.exec();
}
