#include "app/qt/dialogs.h"

#include <QFileDialog>
#include <QMessageBox>

namespace plcburn {

void QtDialogs::ShowMessage(QWidget* owner, const QString& caption, const QString& text,
                            MessageIcon icon) {
  QMessageBox box(icon == MessageIcon::Error ? QMessageBox::Critical : QMessageBox::Information,
                  caption, text, QMessageBox::Ok, owner);
  box.exec();
}

bool QtDialogs::ConfirmStopAndQuit(QWidget* owner) {
  return QMessageBox::question(owner, QStringLiteral("Stop the burn?"),
                               QStringLiteral("A burn is running. Stopping it now leaves the PLC "
                                              "half-written until it is burnt again.\n\n"
                                              "Stop the burn and quit?"),
                               QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::No) == QMessageBox::Yes;
}

std::optional<QString> QtDialogs::ChooseFile(QWidget* owner) {
  const QString path =
      QFileDialog::getOpenFileName(owner, QString(), QString(), QString::fromLatin1(kFileFilter));
  if (path.isEmpty()) return std::nullopt;
  return path;
}

}  // namespace plcburn
