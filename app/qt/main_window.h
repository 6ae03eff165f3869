#pragma once
// The program's one window: the model and port lists, "Start Burn" and the status panel. The
// burn runs on one worker thread at a time; the window talks to it only through the shared state
// and the operator calls it marshals onto the GUI thread.

#include <QPixmap>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "app/qt/dialogs.h"
#include "burn/burn_unit.h"
#include "core/burn_state.h"
#include "link/link.h"
#include "record/burn_log.h"

class QComboBox;
class QPushButton;

namespace plcburn {

inline constexpr const char* kWindowTitle = "Tavrion PLC Firmware Update Program";
inline constexpr int kClientWidth = 528;
inline constexpr int kClientHeight = 166;
inline constexpr std::uint32_t kInvalidFileSize = 0xFFFFFFFF;

class MainWindow : public QWidget {
  Q_OBJECT

 public:
  MainWindow(LinkOpener& opener, Dialogs& dialogs, QWidget* parent = nullptr);
  // Stops a running burn first: the worker must not outlive the state it writes.
  ~MainWindow() override;

  // "Start Burn"; refused while a burn runs, since the shared state has room for one burn only.
  void StartBurnCommand();
  // Enter with the focus off the button. The file is only measured: every burn writes the
  // built-in image.
  void ChooseFileCommand();

  bool Burning() const { return burn_.Running(); }
  const BurnState& State() const { return burn_.State(); }
  const Selection& CurrentSelection() const { return burn_.Chosen(); }
  QPushButton* StartButton() const { return startButton_; }
  QComboBox* ModelList() const { return modelList_; }
  QComboBox* PortList() const { return portList_; }
  const QString& ChosenFile() const { return chosenFile_; }
  std::uint32_t ChosenFileLength() const { return chosenFileLength_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  class WorkerOperator;

  void BuildControls();
  void SetBurnControlsEnabled(bool enabled);
  void StopBurnForQuit();
  // Runs `request` on the GUI thread, in order with the others.
  void PostToGui(std::function<void()> request);
  Q_INVOKABLE void RunGuiRequests();

  LinkOpener& opener_;
  Dialogs& dialogs_;

  std::unique_ptr<WorkerOperator> operator_;
  BurnLog log_;

  QPushButton* startButton_ = nullptr;
  QComboBox* modelList_ = nullptr;
  QComboBox* portList_ = nullptr;
  QTimer paintTimer_;
  QPixmap logo_;

  QString chosenFile_;
  std::uint32_t chosenFileLength_ = 0;

  // Set once the window quits: the worker's messages and waits then return at once.
  std::atomic<bool> closing_{false};
  std::mutex requestMutex_;
  std::deque<std::function<void()>> requests_;
  std::mutex wakeMutex_;
  std::condition_variable wake_;
  // Last: its runner stops and joins its worker before anything the burn uses goes.
  BurnUnit burn_;
};

}  // namespace plcburn
