#include "app/qt/main_window.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QIcon>
#include <QKeyEvent>
#include <QPainter>
#include <QPushButton>
#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "app/panel/status_panel.h"
#include "app/qt/painter_canvas.h"
#include "link/port_list.h"
#include "record/host_name.h"
#include "res/builtin_image.h"

// The art is compiled into a static library; this keeps the linker from dropping it.
static void InitArt() {
  Q_INIT_RESOURCE(plcburn);
}

namespace plcburn {

namespace {

QString FromView(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::uint32_t MeasureFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return kInvalidFileSize;
  return static_cast<std::uint32_t>(file.size());
}

}  // namespace

// The burn's operator: every call arrives on the worker thread and is carried to the GUI thread
// in order. The worker never blocks on the GUI thread without also waking on `closing_`, so the
// GUI thread can always join it. The runner keeps the seconds and the pauses.
class MainWindow::WorkerOperator : public Operator {
 public:
  explicit WorkerOperator(MainWindow& window) : w_(window) {}

  void ShowMessage(std::string_view caption, std::string_view text, MessageIcon icon) override {
    if (w_.closing_) return;
    auto dismissed = std::make_shared<bool>(false);  // guarded by wakeMutex_
    w_.PostToGui([this, dismissed, caption = FromView(caption), text = FromView(text), icon] {
      if (!w_.closing_) w_.dialogs_.ShowMessage(&w_, caption, text, icon);
      {
        std::lock_guard lock(w_.wakeMutex_);
        *dismissed = true;
      }
      w_.wake_.notify_all();
    });
    std::unique_lock lock(w_.wakeMutex_);
    w_.wake_.wait(lock, [&] { return *dismissed || w_.closing_; });
  }

  void SetStartEnabled(bool enabled) override {
    w_.PostToGui([this, enabled] { w_.SetBurnControlsEnabled(enabled); });
  }

 private:
  MainWindow& w_;
};

MainWindow::MainWindow(LinkOpener& opener, Dialogs& dialogs, QWidget* parent)
    : QWidget(parent),
      opener_(opener),
      dialogs_(dialogs),
      operator_(std::make_unique<WorkerOperator>(*this)),
      log_(DefaultBurnLogPath()),
      burn_(ModelFromImageName(BuiltinImageName()), *operator_, log_,
            {HostName(), std::string(BuiltinImageName()), std::string(BuiltinImageSha256())}) {
  burn_.UseImage(BuiltinImage());
  InitArt();
  logo_ = QPixmap(QStringLiteral(":/plcburn/logo.png"));
  setWindowTitle(QString::fromLatin1(kWindowTitle));
  setWindowIcon(QIcon(QStringLiteral(":/plcburn/plcburn.png")));
  // Captioned, with a system menu and a minimise box; neither resizable nor maximisable.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(kClientWidth, kClientHeight);
  // The panel's numbers sit in blank stretches of their labels; a fixed font in pixels keeps
  // them there whatever the desktop's font or DPI.
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(12);
  setFont(font);

  BuildControls();

  // The panel is repainted, and the elapsed seconds it shows brought up to date, 10 times a second.
  connect(&paintTimer_, &QTimer::timeout, this, [this] {
    burn_.ShowElapsed();
    update();
  });
  paintTimer_.start(100);
}

MainWindow::~MainWindow() {
  StopBurnForQuit();
}

// Created in tab order: button, model list, port list.
void MainWindow::BuildControls() {
  startButton_ = new QPushButton(QStringLiteral("Start Burn"), this);
  startButton_->setGeometry(10, 60, 100, 30);
  startButton_->setDefault(true);
  connect(startButton_, &QPushButton::clicked, this, [this] { StartBurnCommand(); });

  modelList_ = new QComboBox(this);
  modelList_->setGeometry(10, 20, 100, modelList_->sizeHint().height());
  for (std::string_view name : SortedModelNames()) modelList_->addItem(FromView(name));
  const ModelRules& model = burn_.Chosen().Model();
  modelList_->setCurrentIndex(
      modelList_->findText(FromView(model.name), Qt::MatchExactly | Qt::MatchCaseSensitive));
  modelList_->setEnabled(false);

  portList_ = new QComboBox(this);
  portList_->setGeometry(160, 20, 100, portList_->sizeHint().height());
  // Listed in text order already; the extra ports follow in the order given.
  const std::vector<std::string> ports = plcburn::PortList(model.IsUsb());
  for (const std::string& port : ports) portList_->addItem(QString::fromStdString(port));
  if (!ports.empty()) {
    portList_->setCurrentIndex(0);
    burn_.Chosen().SetComPort(ports.front());
  }
  // A running burn reads the port again only when it reopens a COM link.
  connect(portList_, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (index >= 0) burn_.Chosen().SetComPort(portList_->itemText(index).toStdString());
  });
  // Off the button, Enter opens the file chooser: a key pressed at start-up starts no burn.
  portList_->setFocus();
}

// The port list goes with the button: a port chosen mid-burn would show one the burn is not
// using. Disabling the list takes the focus away, so it comes back to the list, never to the
// button, where Enter would start the next burn.
void MainWindow::SetBurnControlsEnabled(bool enabled) {
  startButton_->setEnabled(enabled);
  portList_->setEnabled(enabled);
  if (enabled && (focusWidget() == nullptr || !focusWidget()->isEnabled())) portList_->setFocus();
}

void MainWindow::StartBurnCommand() {
  if (closing_ || !burn_.Start(opener_)) return;
  // The worker disables the button too, but its request arrives later through the event queue;
  // the button must not look ready meanwhile.
  SetBurnControlsEnabled(false);
}

// The request travels under our own lock; Qt's queue only carries the wake-up. Qt's queue is
// synchronised inside the Qt libraries, where a thread checker cannot see it.
void MainWindow::PostToGui(std::function<void()> request) {
  {
    std::lock_guard lock(requestMutex_);
    requests_.push_back(std::move(request));
  }
  QMetaObject::invokeMethod(this, "RunGuiRequests", Qt::QueuedConnection);
}

void MainWindow::RunGuiRequests() {
  std::deque<std::function<void()>> pending;
  {
    std::lock_guard lock(requestMutex_);
    pending.swap(requests_);
  }
  for (auto& request : pending) request();
}

void MainWindow::ChooseFileCommand() {
  const std::optional<QString> path = dialogs_.ChooseFile(this);
  if (!path) return;  // cancelled: the earlier choice stands
  chosenFile_ = *path;
  chosenFileLength_ = MeasureFile(*path);
}

void MainWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  PainterCanvas canvas(painter, palette().color(QPalette::Window), logo_);
  // Qt repaints the whole area each time, so the logo goes with every paint.
  PaintPanel(canvas, burn_.State(), true);
}

// Enter reaches the window only when the focus is off the button, which takes Enter itself.
void MainWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    ChooseFileCommand();
    return;
  }
  QWidget::keyPressEvent(event);
}

// Quitting mid-burn can leave a half-written PLC, so it is asked first.
void MainWindow::closeEvent(QCloseEvent* event) {
  if (burn_.Running() && !dialogs_.ConfirmStopAndQuit(this)) {
    event->ignore();
    return;
  }
  StopBurnForQuit();
  event->accept();
}

void MainWindow::StopBurnForQuit() {
  {
    std::lock_guard lock(wakeMutex_);
    closing_ = true;
  }
  wake_.notify_all();
  burn_.Stop();  // every step of the burn now fails at once
  burn_.Wait();
}

}  // namespace plcburn
