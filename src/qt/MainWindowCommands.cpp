// The window's settings panels, car-folder panel and the menu commands of
// constants and snapshot files: each wires its widgets to the run control.

#include <QAction>
#include <QLocale>

#include "base/Errors.h"
#include "base/Text.h"
#include "data/Constants.h"
#include "model/Modules.h"
#include "run/RunControl.h"
#include "qt/MainWindow.h"
#include "qt/Widgets.h"
#include "state/Snapshot.h"

namespace drivanto {

std::optional<QString> MainWindow::Choose(const FileRequest& request) { return chooser_(request); }

void MainWindow::ResumeAfterPanel() {
  if (sim_.s.stegnr > 2) {
    if (!Guarded([this] { ScreenSetup(sim_, this); })) return;
    timer_.start();
  }
  Redraw();
}

void MainWindow::PanelChosen(Panel panel) {
  if (panel != Panel::StartValues) edit5_->hide();
  PanelBoxes& boxes = panels_[static_cast<int>(panel)];
  boxes.shown = panel == Panel::Strategy ? StrategyPanelRows(sim_, DecimalSeparator())
                                         : PanelValueRows(sim_.s, panel, DecimalSeparator());
  boxes.values->setPlainText(Lines(boxes.shown));
  boxes.labels->show();
  boxes.values->show();
  boxes.labels->raise();
  boxes.values->raise();
}

void MainWindow::ValueBoxClicked() { timer_.stop(); }

void MainWindow::LabelBoxClicked(Panel panel) {
  PanelBoxes& boxes = panels_[static_cast<int>(panel)];
  const std::vector<std::string> rows = Rows(boxes.values);
  // A row the reader cannot use, or rows that are no longer where they were,
  // leave the panel open to be mended.
  std::string refused;
  const bool taken = Guarded([&] { refused = TakeOverPanel(sim_, panel, rows, boxes.shown); });
  if (!refused.empty()) ShowError(Q(refused));
  SetTitle(ComposeTitle(sim_.s));
  if (!taken || !refused.empty()) return;
  boxes.labels->hide();
  boxes.values->hide();
  ResumeAfterPanel();
  edit1_->setFocus();
}

void MainWindow::CarFolderChosen() {
  edit5_->hide();
  edit3_->setText(Q(sim_.s.Bilmapp));
  memo3_->show();
  edit3_->show();
  memo3_->raise();
  edit3_->raise();
}

void MainWindow::CarFolderBoxClicked() { timer_.stop(); }

void MainWindow::CarFolderNoticeClicked() {
  const std::string folder = S(edit3_->text());
  memo3_->hide();
  edit3_->hide();
  const bool taken = Guarded([&] { TakeOverCarFolder(sim_, folder); });
  SetTitle(ComposeTitle(sim_.s));
  if (!taken) return;
  ResumeAfterPanel();
  edit1_->setFocus();
}

void MainWindow::GetConstantsChosen() {
  const FileRequest r{QString::fromUtf8("Hämta konstanter"),
                      QString::fromUtf8("Värdefiler (*.VAL *.val);;Alla filer (*)"),
                      "CONS.VAL",
                      "VAL",
                      Q(sim_.s.startmapp),
                      false};
  std::optional<QString> chosen = Choose(r);
  if (!chosen) return;  // a cancelled dialog reads nothing
  State& s = sim_.s;
  s.konsfil = Cut250(S(*chosen));
  s.omrakna = 0;
  if (!Guarded([this] { ReadConstants(sim_.s, sim_.tables); })) return;
  if (s.stegnr > 0) Guarded([this] { ScreenSetup(sim_, this); });
  Redraw();
}

void MainWindow::SaveConstantsChosen() {
  const FileRequest r{"Spara konstanter som",
                      QString::fromUtf8("Värdefiler (*.VAL *.val);;Alla filer (*)"),
                      "",
                      "VAL",
                      Q(sim_.s.startmapp),
                      true};
  std::optional<QString> chosen = Choose(r);
  if (!chosen) return;  // a cancelled dialog writes nothing
  State& s = sim_.s;
  s.ValueFileName = Cut250(S(*chosen));
  if (!Guarded([this] { WriteConstants(sim_.s, sim_.s.ValueFileName); })) return;
  if (s.stegnr > 0) Guarded([this] { ScreenSetup(sim_, this); });
  Redraw();
}

MainWindow::Hold MainWindow::HoldAndChoose(const FileRequest& request) {
  State& s = sim_.s;
  Hold hold{std::nullopt, timer_.isActive(), s.paus};
  timer_.stop();
  s.paus = 1;
  hold.chosen = Choose(request);
  // Cancelled: nothing is read or written and the run goes on as it was.
  if (!hold.chosen) ReleaseHold(hold);
  return hold;
}

void MainWindow::ReleaseHold(const Hold& hold) {
  sim_.s.paus = hold.wasPaused;
  if (hold.wasRunning) {
    // The clock is taken up from now, so the time held is not a step.
    RebaseClock(sim_);
    timer_.start();
  }
}

char MainWindow::DecimalSeparator() const {
  const QString point = QLocale().decimalPoint();
  return point == "," ? ',' : '.';
}

void MainWindow::SaveSnapshotChosen() {
  State& s = sim_.s;
  const Hold hold =
      HoldAndChoose({"Spara konstanter och variabler som", "", "", "", Q(s.startmapp), true});
  if (!hold.chosen) return;
  const QString* chosen = &*hold.chosen;
  // A failed save leaves the run held; "Stopp/Start" continues it.
  if (!Guarded([&] { SaveSnapshotOfRun(sim_, S(*chosen), DecimalSeparator()); })) return;
  if (!Guarded([this] { TimeStep(sim_); })) return;
  if (s.stegnr > 1 && !Guarded([this] { ScreenSetup(sim_, this); })) return;
  timer_.start();
  Redraw();
}

void MainWindow::GetSnapshotChosen() {
  State& s = sim_.s;
  const Hold hold = HoldAndChoose({"Konstanter och variabler", "", "", "", Q(s.startmapp), false});
  if (!hold.chosen) return;
  const std::string chosen = S(*hold.chosen);
  // A file that is plainly not a snapshot is refused before anything
  // changes; the run goes on as it was.
  if (!Guarded([&] { CheckIsSnapshot(chosen); })) {
    ReleaseHold(hold);
    return;
  }
  const int32_t noted = s.stegnr;
  bool underWay = false;
  std::vector<MovedFile> moved;
  // A snapshot whose files are nowhere changes nothing: the run goes on as
  // it was.
  if (!Guarded([&] { underWay = LoadSnapshotIntoRun(sim_, chosen, &moved); })) {
    ReleaseHold(hold);
    return;
  }
  if (!moved.empty()) {
    // Made in another folder: the files of the same names here are used.
    QString text = QString::fromUtf8("Ögonblicksbilden anger filer där de inte finns; i stället "
                                     "används:");
    for (const MovedFile& m : moved) text += "\n" + Q(m.variable) + ": " + Q(m.to);
    ShowError(text);
  }
  if (underWay && !Guarded([this] { ResumeLoadedRun(sim_); })) return;
  s.paus = 1;
  if (!Guarded([this] { TimeStep(sim_); })) return;
  s.paus = 0;
  if (noted <= 1) {
    s.screenState = 'S';
    Redraw();
    return;
  }
  if (!Guarded([this] { ScreenSetup(sim_, this); })) return;
  timer_.start();
  Redraw();
}

void MainWindow::PrintConstantsChosen() {
  edit5_->hide();
  memo12_->show();
  memo12_->raise();
}

void MainWindow::PrintNoticeClicked() {
  memo12_->hide();
  ResumeAfterPanel();
}

}  // namespace drivanto
