#pragma once
// The main window: the 800 x 600 drawing surface with the controls on it, the
// menu, the 40 ms timer, the keys and the mouse. It wires the toolkit to the
// run control; the model and the drawing know nothing of the toolkit.

#include <QImage>
#include <QMainWindow>
#include <QString>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>
#include <optional>

#include "display/Canvas.h"
#include "model/Sim.h"
#include "run/DriveScript.h"
#include "run/History.h"
#include "run/Tick.h"
#include "ui/Panels.h"
#include "qt/QtCanvas.h"

class QFileDialog;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QAction;

namespace drivanto {

class Surface;
class ChartsWindow;

struct WindowOptions {
  // The working folder with CONS.VAL, MOT1.BMP to MOT4.BMP.
  std::string folder;
  // A clock that advances 0.04 s per tick instead of the computer's clock.
  bool simulatedClock = false;
  // Records the drive from START on into this drive script (--record).
  std::string recordFile = {};
};

// A file dialog: returns the chosen name, or nothing when cancelled.
struct FileRequest {
  QString title;
  QString filter;
  QString defaultName;
  QString defaultSuffix;
  QString folder;
  bool save = false;
};
using FileChooser = std::function<std::optional<QString>(const FileRequest&)>;

// The window's own file dialog for a request: Swedish, as large as the
// screen allows up to 900 x 560, its columns as wide as their contents.
std::unique_ptr<QFileDialog> MakeFileDialog(QWidget* parent, const FileRequest& request);

class MainWindow : public QMainWindow, public Display {
  Q_OBJECT

 public:
  explicit MainWindow(WindowOptions options, QWidget* parent = nullptr);
  ~MainWindow() override;

  // The start-up sequence (run once when the window is first shown).
  // Returns false when it stopped on an error (shown in a message box).
  bool StartUpSequence();

  // The click on START (the program makes it itself when asked to start at
  // once).
  void StartClicked();
  // One tick of the 40 ms timer; tests tick by hand with the timer stopped.
  void TimerTick();

  Sim& sim() { return sim_; }
  const QImage& surfaceImage() const { return image_; }
  QTimer& timer() { return timer_; }
  // The menu item with this caption; "Hämta/Konstanter" names the item of a
  // menu where captions repeat.
  QAction* action(const QString& path) const;
  SimulatedClock& simulatedClock() { return simClock_; }

  void setFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }
  // What happens when a table lookup falls outside its table (after ERROR.TAB
  // has been written): by default the program ends with exit code 3.
  void setTerminate(std::function<void(int)> terminate) { terminate_ = std::move(terminate); }
  // Message boxes; tests replace them to read the texts.
  void setMessageSink(std::function<void(const QString&)> sink) { messageSink_ = std::move(sink); }

  // Display.
  void DrawBackground(Sim& sim) override;
  void DrawInstruments(const Sim& sim, const RoadView& road) override;
  void SetTitle(const std::string& title) override;
  void ShowMessage(const std::string& text) override;
  void StopTimer() override;
  void EndTick() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Handlers of the menu items and of clicks on the controls; the controls
  // are found by their object names ("startButton", "keyBox", "panelLabels0"
  // and so on).
  void StopStartChosen();
  // A click on the start picture makes it small or large again.
  void StartPictureClicked();
  void ManualChosen();
  void ManualClicked();
  void GetEfficiencyMapChosen();
  void DiagramChosen();
  void RecordChosen();
  void BatteryValuesChosen();
  // Settings panels: open, click into the value box, close by a click on the
  // label box.
  void PanelChosen(Panel panel);
  void ValueBoxClicked();
  void LabelBoxClicked(Panel panel);
  void CarFolderChosen();
  void CarFolderBoxClicked();
  void CarFolderNoticeClicked();
  void GetConstantsChosen();
  void SaveConstantsChosen();
  void SaveSnapshotChosen();
  void GetSnapshotChosen();
  void PrintConstantsChosen();
  void PrintNoticeClicked();

  void BuildMenu();
  void BuildControls();
  void BuildPanels();
  std::optional<QString> Choose(const FileRequest& request);
  // The snapshot commands hold the run (timer off, paus set) while the dialog
  // is open; a cancel releases the hold again.
  struct Hold {
    std::optional<QString> chosen;
    bool wasRunning;
    uint8_t wasPaused;
  };
  Hold HoldAndChoose(const FileRequest& request);
  // The run as it was before the hold, its clock taken up from now.
  void ReleaseHold(const Hold& hold);
  // The decimal separator of the user's number settings.
  char DecimalSeparator() const;
  // The end of a command that held the run: the background is redrawn and
  // the timer runs again once a run has begun (more than two ticks).
  void ResumeAfterPanel();
  void LoadPictures();
  void ShowError(const QString& text);
  // Runs f and turns the model's errors into a message box (the timer stops)
  // or the end of the program (a lookup outside its table).
  bool Guarded(const std::function<void()>& f);
  // Begins a drive's recording into `file`, checked against the inputs.
  void BeginRecording(const std::string& file);
  void Redraw();

  WindowOptions options_;
  Sim sim_;
  SystemClock systemClock_;
  SimulatedClock simClock_;
  DriveRecorder recorder_;
  // An observer of the run told inside Guarded: its failure is shown and
  // holds the run, and the tick goes on.
  class GuardedObserver : public RunObserver {
   public:
    GuardedObserver(MainWindow& window, RunObserver& inner) : window_(window), inner_(inner) {}
    void BeforeTick(const Sim& sim, int64_t tick) override {
      window_.Guarded([&] { inner_.BeforeTick(sim, tick); });
    }
    void AfterTick(const Sim& sim, int64_t tick) override {
      window_.Guarded([&] { inner_.AfterTick(sim, tick); });
    }

   private:
    MainWindow& window_;
    RunObserver& inner_;
  };
  GuardedObserver guardedRecorder_{*this, recorder_};
  // Told of every tick: the drive being recorded and the chart history.
  std::vector<RunObserver*> tickObservers_;
  int64_t steps_ = 0;
  std::unique_ptr<RecordingClock> recordingClock_;
  std::string pendingRecord_;  // a drive to record from START on
  RunHistory history_;
  ChartsWindow* charts_ = nullptr;
  QImage image_;
  std::unique_ptr<QtCanvas> canvas_;
  QTimer timer_;
  Surface* surface_ = nullptr;
  QLabel* label1_ = nullptr;
  QLabel* image1_ = nullptr;
  QPushButton* button1_ = nullptr;
  QLineEdit* edit1_ = nullptr;
  QLineEdit* edit2_ = nullptr;
  QLineEdit* edit5_ = nullptr;
  QPlainTextEdit* memo14_ = nullptr;
  struct PanelBoxes {
    QPlainTextEdit* labels = nullptr;
    QPlainTextEdit* values = nullptr;
    std::vector<std::string> shown;  // the value rows as the panel opened
  };
  std::array<PanelBoxes, kPanelCount> panels_;
  QPlainTextEdit* memo3_ = nullptr;
  QLineEdit* edit3_ = nullptr;
  QPlainTextEdit* memo12_ = nullptr;
  Picture mussbild_;
  std::array<Picture, 4> motbild_;
  FileChooser chooser_;
  std::function<void(int)> terminate_;
  std::function<void(const QString&)> messageSink_;
  bool startedUp_ = false;
};

}  // namespace drivanto
