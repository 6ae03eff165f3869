#include "app/qt/dialogs.h"

#include <QFileDialog>
#include <QMessageBox>

#include "core/stopped_burn.h"

namespace plcburn {

namespace {

QString FromView(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

void QtDialogs::ShowMessage(QWidget* owner, const QString& caption, const QString& text,
                            MessageIcon icon) {
  QMessageBox box(icon == MessageIcon::Error ? QMessageBox::Critical : QMessageBox::Information,
                  caption, text, QMessageBox::Ok, owner);
  box.exec();
}

bool QtDialogs::ConfirmStopAndQuit(QWidget* owner) {
  QMessageBox box(QMessageBox::Warning, FromView(kStopBurnCaption), FromView(kStopBurnQuestion),
                  QMessageBox::Yes | QMessageBox::No, owner);
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

std::optional<QString> QtDialogs::ChooseFile(QWidget* owner) {
  const QString path =
      QFileDialog::getOpenFileName(owner, QString(), QString(), QString::fromLatin1(kFileFilter));
  if (path.isEmpty()) return std::nullopt;
  return path;
}

}  // namespace plcburn
