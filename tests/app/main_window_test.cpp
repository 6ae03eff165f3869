#include "app/qt/main_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QComboBox>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryFile>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/panel/status_panel.h"
#include "core/stopped_burn.h"
#include "record/burn_log.h"
#include "res/builtin_image.h"
#include "sim/plc_sim.h"
#include "sim/sim_link.h"

namespace plcburn {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using Clock = std::chrono::steady_clock;

// Answers the window's dialogs in the operator's place; records each message with the progress
// shown while it was up.
struct ScriptedDialogs : Dialogs {
  struct Shown {
    std::string caption, text;
    MessageIcon icon;
    std::int32_t progress;
  };
  void ShowMessage(QWidget* owner, const QString& caption, const QString& text,
                   MessageIcon icon) override {
    shown.push_back({caption.toStdString(), text.toStdString(), icon, state->progress});
    if (onMessage) onMessage(owner, caption, text, icon);
  }
  bool ConfirmStopAndQuit(QWidget*) override { return ++closeQuestions, confirmClose; }
  std::optional<QString> ChooseFile(QWidget*) override { return ++chooserShown, nextFile; }

  const BurnState* state = nullptr;
  std::vector<Shown> shown;
  std::function<void(QWidget*, const QString&, const QString&, MessageIcon)> onMessage;
  bool confirmClose = true;
  int closeQuestions = 0, chooserShown = 0;
  std::optional<QString> nextFile;
};

// Opens the simulator's links, whose writes hold once the transfer reaches `holdAt` percent,
// until released or interrupted, so a test can look at the window mid-burn.
class HoldingOpener : public LinkOpener {
 public:
  explicit HoldingOpener(SimOpener& inner) : inner_(inner) {}
  OpenResult OpenCom(const std::string& port) override { return Wrap(inner_.OpenCom(port)); }
  OpenResult OpenUsb() override { return Wrap(inner_.OpenUsb()); }

  void HoldAt(const BurnState& state, int percent) {
    HoldWhen(
        [&state, percent] { return state.flashStatus == PROGRAM && state.progress >= percent; });
  }
  // Checked on the burn's thread before each write.
  void HoldWhen(std::function<bool()> condition) { holdWhen_ = std::move(condition); }
  bool Held() {
    std::lock_guard lock(mutex_);
    return held_;
  }
  void Release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    wake_.notify_all();
  }

 private:
  struct HeldLink : Link {
    HeldLink(std::unique_ptr<Link> in, HoldingOpener& o) : inner(std::move(in)), opener(o) {}
    std::size_t Write(const std::uint8_t* d, std::size_t n) override {
      opener.MaybeHold(interrupted);
      return inner->Write(d, n);
    }
    std::size_t Read(std::uint8_t* b, std::size_t n) override { return inner->Read(b, n); }
    bool SetTimeouts(const CommTimeouts& t) override { return inner->SetTimeouts(t); }
    bool ApplyLineProfile(const LineProfile& p) override { return inner->ApplyLineProfile(p); }
    void Close() override { inner->Close(); }
    void Interrupt() override {
      std::lock_guard lock(opener.mutex_);
      interrupted = true;
      opener.wake_.notify_all();
      inner->Interrupt();
    }
    std::unique_ptr<Link> inner;
    HoldingOpener& opener;
    bool interrupted = false;  // guarded by the opener's mutex
  };

  void MaybeHold(const bool& interrupted) {
    if (!holdWhen_ || !holdWhen_()) return;
    std::unique_lock lock(mutex_);
    held_ = true;
    wake_.wait(lock, [&] { return released_ || interrupted; });
  }
  OpenResult Wrap(OpenResult r) {
    if (r.link) r.link = std::make_unique<HeldLink>(std::move(r.link), *this);
    return r;
  }

  SimOpener& inner_;
  std::function<bool()> holdWhen_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool held_ = false, released_ = false;
};

// The window of this build against an in-process simulated PLC.
struct Bench {
  explicit Bench(SimOptions options = {})
      : row(ModelFromImageName(BuiltinImageName())),
        sim(row, std::move(options)),
        simOpener(sim, clock),
        opener(simOpener),
        window(opener, dialogs) {
    dialogs.state = &window.State();
    window.show();
  }

  void Start() {
    QTest::mouseClick(window.StartButton(), Qt::LeftButton);
    ASSERT_TRUE(window.Burning());
  }
  // Until the worker has ended and the window has taken back everything it changed.
  bool WaitIdle() {
    return QTest::qWaitFor([&] { return !window.Burning() && window.StartButton()->isEnabled(); },
                           10000);
  }
  // What the panel shows now, as its texts.
  std::vector<std::string> PanelTexts() {
    struct : PanelCanvas {
      void FillRect(const Rect&, Color) override {}
      void DrawText(int, int, std::string_view t) override { texts.emplace_back(t); }
      void DrawLogo(int, int) override {}
      std::vector<std::string> texts;
    } canvas;
    PaintPanel(canvas, window.State(), false);
    return canvas.texts;
  }
  // Shows the message in the desktop's own box, which is then closed, as the operator would.
  void ShowAndCloseBox(const QString& caption, const QString& text, MessageIcon icon) {
    QTimer::singleShot(0, [] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      box->accept();
    });
    QtDialogs().ShowMessage(&window, caption, text, icon);
  }

  std::size_t row;
  VirtualClock clock;
  PlcSim sim;
  SimOpener simOpener;
  HoldingOpener opener;
  ScriptedDialogs dialogs;
  MainWindow window;
};

SimOptions StartingIn(bool bootLoader, std::vector<SimFault> faults = {}) {
  SimOptions options;
  options.startInBootLoader = bootLoader;
  options.faults = std::move(faults);
  return options;
}

std::vector<std::string> Items(const QComboBox* list) {
  std::vector<std::string> items;
  for (int i = 0; i < list->count(); ++i) items.push_back(list->itemText(i).toStdString());
  return items;
}

const std::vector<std::string> kIdlePanel{"Elapsed Time:              sec",
                                          "  0",
                                          "Progress:            %",
                                          "  0",
                                          "Status: ",
                                          "Idle",
                                          "# of Error/Total Error: 0/0",
                                          "Date: 2017/8/28"};

TEST(MainWindow, StartsWithTheBuildsModelAndItsPorts) {
  Bench b;
  const ModelRules& model = ModelAt(b.row);
  if (!model.IsUsb()) GTEST_SKIP() << "a COM model's build lists this machine's serial ports";
  MainWindow& w = b.window;

  EXPECT_EQ(w.windowTitle(), "Tavrion PLC Firmware Update Program");
  EXPECT_EQ(w.size(), QSize(528, 166));
  EXPECT_EQ(w.minimumSize(), w.maximumSize());
  EXPECT_EQ(w.StartButton()->geometry(), QRect(10, 60, 100, 30));
  EXPECT_EQ(w.StartButton()->text(), "Start Burn");
  EXPECT_TRUE(w.StartButton()->isDefault());
  EXPECT_TRUE(w.StartButton()->isEnabled());
  for (const auto& [list, x] : {std::pair{w.ModelList(), 10}, {w.PortList(), 160}}) {
    EXPECT_EQ(list->pos(), QPoint(x, 20));
    EXPECT_EQ(list->width(), 100);
    EXPECT_LT(list->geometry().bottom(), 60) << "a closed list reaches into the button";
  }
  EXPECT_EQ(w.StartButton()->nextInFocusChain(), w.ModelList());
  EXPECT_EQ(w.ModelList()->nextInFocusChain(), w.PortList());

  const auto sorted = SortedModelNames();
  EXPECT_THAT(Items(w.ModelList()), ElementsAreArray(sorted.begin(), sorted.end()));
  EXPECT_FALSE(w.ModelList()->isEnabled());
  EXPECT_EQ(w.ModelList()->currentText().toStdString(),
            BuiltinImageName().substr(0, BuiltinImageName().find('_')));
  EXPECT_EQ(w.CurrentSelection().selectedPLCIdx, b.row);
  EXPECT_EQ(w.CurrentSelection().selectedPLCID, plcID[b.row]);

  EXPECT_THAT(Items(w.PortList()), ElementsAre("USB"));
  EXPECT_EQ(w.PortList()->currentText(), "USB");
  EXPECT_EQ(w.CurrentSelection().ComPort(), "USB");
  EXPECT_EQ(b.PanelTexts(), kIdlePanel);

  EXPECT_EQ(QFontInfo(w.font()).family(), "DejaVu Sans");
  // The logo is there: its middle is not the window's background.
  const QImage shot = w.grab().toImage();
  EXPECT_NE(shot.pixelColor(435 + 20, 15 + 14), w.palette().color(QPalette::Window));
}

// The extra ports follow the listed ones in the order given; the first listed stays the default.
TEST(MainWindow, ExtraPortsFollowAndAChoiceTakesEffectAtOnce) {
  ::setenv("PLCBURN_EXTRA_PORTS", "/tmp/pz:/tmp/pa", 1);
  Bench b;
  ::unsetenv("PLCBURN_EXTRA_PORTS");
  if (!ModelAt(b.row).IsUsb()) GTEST_SKIP() << "a COM model's build lists this machine's ports";
  EXPECT_THAT(Items(b.window.PortList()), ElementsAre("USB", "/tmp/pz", "/tmp/pa"));
  EXPECT_EQ(b.window.CurrentSelection().ComPort(), "USB");
  b.window.PortList()->setCurrentIndex(2);
  EXPECT_EQ(b.window.CurrentSelection().ComPort(), "/tmp/pa");
}

// A key pressed at once after start-up goes where the window puts the focus: Enter opens the file
// chooser, Escape does nothing; neither starts a burn, not even with the focus on the button.
TEST(MainWindow, EnterOrEscapeRightAfterStartUpStartsNoBurn) {
  const struct {
    const char* what;
    Qt::Key key;
    bool focusOnButton;
    int chooserShown;
  } cases[] = {
      {"Return", Qt::Key_Return, false, 1},
      {"Enter", Qt::Key_Enter, false, 1},
      {"Escape", Qt::Key_Escape, false, 0},
      {"Escape on the button", Qt::Key_Escape, true, 0},
  };
  for (const auto& c : cases) {
    Bench b(StartingIn(true));
    ASSERT_TRUE(QTest::qWaitForWindowActive(&b.window)) << c.what;
    if (c.focusOnButton) b.window.StartButton()->setFocus();
    // Through the window system, as a key press arrives: to whatever has the focus.
    QTest::keyClick(b.window.windowHandle(), c.key);
    EXPECT_EQ(b.dialogs.chooserShown, c.chooserShown) << c.what;
    EXPECT_FALSE(b.window.Burning()) << c.what;
    EXPECT_TRUE(b.window.StartButton()->isEnabled()) << c.what;
    EXPECT_EQ(b.simOpener.Opens(), 0) << c.what;
  }
}

// Each number must sit inside the blank stretch of its label, and every text inside its
// erased area, in the window's font.
TEST(MainWindow, NumbersLandInsideTheirLabelsBlankStretch) {
  Bench b;
  const QFontMetricsF fm(b.window.font(), &b.window);
  const auto advance = [&](std::string_view s) {
    return fm.horizontalAdvance(QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())));
  };
  const struct {
    std::string_view label;
    TextSpot labelAt, numberAt;
    std::vector<std::string_view> numbers;
  } cases[] = {
      {kElapsedLabel, kElapsedLabelAt, kElapsedNumberAt, {"  0", "  7", " 42", "999"}},
      {kProgressLabel, kProgressLabelAt, kProgressNumberAt, {"  0", " 33", "100"}},
  };
  for (const auto& c : cases) {
    const std::size_t from = c.label.find("  "), to = c.label.find_first_not_of(' ', from);
    const double stretchLeft = c.labelAt.x + advance(c.label.substr(0, from));
    const double stretchRight = c.labelAt.x + advance(c.label.substr(0, to));
    for (std::string_view n : c.numbers) {
      EXPECT_GE(c.numberAt.x + advance(n.substr(0, n.find_first_not_of(' '))), stretchLeft) << n;
      EXPECT_LE(c.numberAt.x + advance(n), stretchRight) << c.label << " / " << n;
    }
  }
  EXPECT_LE(kStatusLabelAt.x + advance(kStatusLabel), kPhaseAt.x);
  const struct {
    std::string_view text;
    TextSpot at;
    Rect area;
  } fits[] = {
      {kElapsedLabel, kElapsedLabelAt, kElapsedErase},
      {kProgressLabel, kProgressLabelAt, kProgressErase},
      {"Programming", kPhaseAt, kStatusErase},
      {"# of Error/Total Error: 9999/9999", kCountersAt, {320, 140, 528, 160}},
      {kDateLine, kDateAt, {300, 20, kLogoAt.x, 45}},
  };
  for (const auto& f : fits) {
    EXPECT_LE(f.at.x + advance(f.text), f.area.right) << f.text;
    EXPECT_LE(f.at.y + fm.height(), f.area.bottom) << f.text;
  }
}

TEST(MainWindow, BurnsThroughTheWindowAndEndsIdle) {
  Bench b(StartingIn(true));
  b.opener.HoldAt(b.window.State(), 40);
  b.Start();
  ASSERT_TRUE(QTest::qWaitFor([&] { return b.opener.Held(); }, 10000));
  // Mid-burn: the worker holds the button and the port list, the seconds count, the panel shows
  // the transfer.
  EXPECT_FALSE(b.window.StartButton()->isEnabled());
  EXPECT_FALSE(b.window.PortList()->isEnabled());
  ASSERT_TRUE(QTest::qWaitFor([&] { return b.window.State().elapsedTime >= 1; }, 3000));
  EXPECT_EQ(b.PanelTexts()[5], "Programming");

  // A second start is refused, a refused quit keeps the burn, and a chosen file only is
  // measured.
  b.window.StartBurnCommand();
  EXPECT_EQ(b.simOpener.Opens(), 1);
  b.dialogs.confirmClose = false;
  EXPECT_FALSE(b.window.close());
  EXPECT_EQ(b.dialogs.closeQuestions, 1);
  EXPECT_TRUE(b.window.isVisible());
  QTemporaryFile other;
  ASSERT_TRUE(other.open());
  other.write(QByteArray(1234, 'x'));
  other.flush();
  b.dialogs.nextFile = other.fileName();
  QTest::keyClick(b.window.PortList(), Qt::Key_Return);
  EXPECT_EQ(b.window.ChosenFileLength(), 1234u);

  b.dialogs.onMessage = [&](QWidget*, const QString& caption, const QString& text,
                            MessageIcon icon) { b.ShowAndCloseBox(caption, text, icon); };
  b.opener.Release();
  ASSERT_TRUE(b.WaitIdle());
  EXPECT_TRUE(b.window.PortList()->isEnabled());
  // The button was clicked, but Enter after the burn opens the chooser, as at start-up.
  QTest::keyClick(b.window.windowHandle(), Qt::Key_Return);
  EXPECT_FALSE(b.window.Burning());
  EXPECT_EQ(b.dialogs.chooserShown, 2);
  const ModelRules& model = ModelAt(b.row);
  ASSERT_EQ(b.dialogs.shown.size(), 1u);
  EXPECT_EQ(b.dialogs.shown[0].caption, model.successCaption);
  EXPECT_EQ(b.dialogs.shown[0].text, model.successText);
  EXPECT_EQ(b.dialogs.shown[0].icon, MessageIcon::Information);
  EXPECT_EQ(b.dialogs.shown[0].progress, 100);
  EXPECT_EQ(b.PanelTexts(), kIdlePanel);
  const auto image = BuiltinImage();
  ASSERT_GE(b.sim.ReceivedImage().size(), image.size() - model.unsentTail);
  EXPECT_TRUE(
      std::equal(image.begin(), image.end() - model.unsentTail, b.sim.ReceivedImage().begin()));
  // The burn log (in the test's own state folder) got the burn's record.
  std::ifstream log(DefaultBurnLogPath());
  std::string record, line;
  while (std::getline(log, line)) record = line;
  const auto j = nlohmann::json::parse(record);
  EXPECT_EQ(j["result"]["text"], model.successText);
  EXPECT_EQ(j["image"]["sha256"], BuiltinImageSha256());
}

// The counters read the failed tries of the exchange going on and of the whole burn: with the
// answer to block 100 lost once, and block 1000 refused twice so far, the panel reads 2/3, and the
// burn still succeeds.
TEST(MainWindow, CountersShowTheFailedTriesOfTheExchangeAndOfTheBurn) {
  Bench b(StartingIn(true, {*ParseFault("lose-ack:100"), *ParseFault("nak-block:1000:3")}));
  const BurnState& s = b.window.State();
  b.opener.HoldWhen([&s] { return s.errCounter == 2; });
  b.Start();
  ASSERT_TRUE(QTest::qWaitFor([&] { return b.opener.Held(); }, 10000));
  ASSERT_TRUE(QTest::qWaitFor([&] { return s.elapsedTime >= 1; }, 3000));
  EXPECT_EQ(b.PanelTexts()[5], "Programming");
  EXPECT_EQ(b.PanelTexts()[6], "# of Error/Total Error: 2/3");
  b.opener.Release();
  ASSERT_TRUE(b.WaitIdle());
  ASSERT_EQ(b.dialogs.shown.size(), 1u);
  EXPECT_EQ(b.dialogs.shown[0].text, ModelAt(b.row).successText);
}

TEST(MainWindow, FailedBurnShowsErrorAndEndsIdle) {
  const struct {
    const char* name;
    SimOptions options;
    bool failOpens;
    const char* text;  // first line; null: any
  } cases[] = {
      {"silent PLC", StartingIn(false, {{FaultKind::Silence}}), false, nullptr},
      {"no link", StartingIn(false), true, "CANNOT open USB Port!!!"},
  };
  for (const auto& c : cases) {
    Bench b(c.options);
    b.simOpener.SetFailOpens(c.failOpens);
    b.Start();
    ASSERT_TRUE(b.WaitIdle()) << c.name;
    ASSERT_EQ(b.dialogs.shown.size(), 1u) << c.name;
    EXPECT_EQ(b.dialogs.shown[0].caption, "ERROR") << c.name;
    EXPECT_EQ(b.dialogs.shown[0].icon, MessageIcon::Error) << c.name;
    if (c.text) {
      EXPECT_EQ(b.dialogs.shown[0].text.substr(0, b.dialogs.shown[0].text.find('\n')), c.text)
          << c.name;
    }
    EXPECT_EQ(b.PanelTexts(), kIdlePanel) << c.name;
  }
}

TEST(MainWindow, EnterOffTheButtonChoosesAFileAndCancelKeepsIt) {
  Bench b(StartingIn(true));
  QTemporaryFile file;
  ASSERT_TRUE(file.open());
  file.write("abc");
  file.flush();
  const struct {
    std::optional<QString> answer;
    QString path;
    std::uint32_t length;
  } steps[] = {
      {file.fileName(), file.fileName(), 3},
      {std::nullopt, file.fileName(), 3},  // cancelled
      {"/nonexistent/x.bin", "/nonexistent/x.bin", kInvalidFileSize},
  };
  for (const auto& s : steps) {
    b.dialogs.nextFile = s.answer;
    QTest::keyClick(b.window.PortList(), Qt::Key_Enter);
    EXPECT_EQ(b.window.ChosenFile(), s.path);
    EXPECT_EQ(b.window.ChosenFileLength(), s.length);
  }
  EXPECT_EQ(b.dialogs.chooserShown, 3);
  EXPECT_FALSE(b.window.Burning());
  // On the button Enter starts the burn instead.
  QTest::keyClick(b.window.StartButton(), Qt::Key_Return);
  EXPECT_EQ(b.dialogs.chooserShown, 3);
  EXPECT_TRUE(b.window.Burning());
  ASSERT_TRUE(b.WaitIdle());
}

// Quitting mid-burn, once confirmed, stops the worker within a second and shows nothing more.
TEST(MainWindow, ConfirmedCloseStopsTheBurnQuickly) {
  const struct {
    const char* name;
    SimOptions options;
    std::size_t messagesBefore;  // the re-plug prompt, when held in the wait after it
  } cases[] = {
      {"during the transfer", StartingIn(true), 0},
      {"during the re-plug wait", StartingIn(false), 1},
  };
  for (const auto& c : cases) {
    Bench b(c.options);
    if (c.messagesBefore == 0) b.opener.HoldAt(b.window.State(), 30);
    b.Start();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return c.messagesBefore == 0 ? b.opener.Held() : b.dialogs.shown.size() == 1; },
        10000))
        << c.name;
    ASSERT_TRUE(b.window.Burning()) << c.name;
    const auto start = Clock::now();
    EXPECT_TRUE(b.window.close()) << c.name;
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1)) << c.name;
    EXPECT_FALSE(b.window.Burning()) << c.name;
    EXPECT_FALSE(b.window.isVisible()) << c.name;
    EXPECT_FALSE(b.simOpener.AnyLinkOpen()) << c.name;
    QTest::qWait(50);  // anything the worker posted has had its chance to show
    EXPECT_EQ(b.dialogs.shown.size(), c.messagesBefore) << c.name;
  }
}

// What the modal box that `show` opens carried; `answer` closes it.
struct SeenBox {
  std::string title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QWidget* parent = nullptr;
  bool noIsDefault = false;
};

template <typename Show>
SeenBox WatchBox(const std::function<void(QMessageBox*)>& answer, Show show) {
  SeenBox seen;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    seen = {box->windowTitle().toStdString(), box->text().toStdString(), box->icon(),
            box->parentWidget(), box->defaultButton() == box->button(QMessageBox::No)};
    answer(box);
  });
  show();
  return seen;
}

// The desktop's own boxes: the caption as given, the icon by the kind of message.
TEST(QtDialogs, MessageBoxCarriesCaptionAndIcon) {
  const struct {
    const char* caption;
    MessageIcon icon;
    QMessageBox::Icon shown;
  } cases[] = {{"ERROR", MessageIcon::Error, QMessageBox::Critical},
               {"INFORMATION", MessageIcon::Information, QMessageBox::Information}};
  QWidget owner;
  for (const auto& c : cases) {
    const SeenBox seen =
        WatchBox([](QMessageBox* box) { box->accept(); },
                 [&] { QtDialogs().ShowMessage(&owner, c.caption, "text", c.icon); });
    EXPECT_EQ(seen.title, c.caption);
    EXPECT_EQ(seen.text, "text");
    EXPECT_EQ(seen.icon, c.shown);
    EXPECT_EQ(seen.parent, &owner);
  }
}

// Closing during a burn asks one question, the same in both windows: a warning, No unless the
// operator says Yes.
TEST(QtDialogs, StopQuestionIsAWarningWithNoAsDefault) {
  const struct {
    const char* what;
    std::optional<QMessageBox::StandardButton> pressed;  // none: Enter on the default
    bool stops;
  } cases[] = {
      {"Enter", std::nullopt, false},
      {"No", QMessageBox::No, false},
      {"Yes", QMessageBox::Yes, true},
  };
  QWidget owner;
  for (const auto& c : cases) {
    bool stops = !c.stops;
    const SeenBox seen = WatchBox(
        [&](QMessageBox* box) {
          if (c.pressed) {
            box->button(*c.pressed)->click();
          } else {
            QTest::keyClick(box, Qt::Key_Return);
          }
        },
        [&] { stops = QtDialogs().ConfirmStopAndQuit(&owner); });
    EXPECT_EQ(stops, c.stops) << c.what;
    EXPECT_EQ(seen.title, kStopBurnCaption);
    EXPECT_EQ(seen.text, kStopBurnQuestion);
    EXPECT_EQ(seen.icon, QMessageBox::Warning);
    EXPECT_TRUE(seen.noIsDefault);
  }
}

}  // namespace
}  // namespace plcburn
