#pragma once
// Everything the window asks of the person in front of it. Each call is modal and runs on the
// GUI thread; tests answer in the person's place.

#include <QString>
#include <optional>

#include "core/operator.h"

class QWidget;

namespace plcburn {

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // Returns once the message has been dismissed.
  virtual void ShowMessage(QWidget* owner, const QString& caption, const QString& text,
                           MessageIcon icon) = 0;
  // Whether to stop the running burn and quit; No unless the operator says Yes.
  virtual bool ConfirmStopAndQuit(QWidget* owner) = 0;
  // The chosen file, or nothing when the chooser was cancelled.
  virtual std::optional<QString> ChooseFile(QWidget* owner) = 0;
};

inline constexpr const char* kFileFilter = "Binary File (*.bin);;All (*.*)";

// Message boxes and the file chooser of the desktop.
class QtDialogs : public Dialogs {
 public:
  void ShowMessage(QWidget* owner, const QString& caption, const QString& text,
                   MessageIcon icon) override;
  bool ConfirmStopAndQuit(QWidget* owner) override;
  std::optional<QString> ChooseFile(QWidget* owner) override;
};

}  // namespace plcburn
