#include "qt/MainWindow.h"

#include <unistd.h>

#include <QApplication>
#include <QFileDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QLocale>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTreeView>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>

#include "base/Errors.h"
#include "base/Files.h"
#include "base/Rounding.h"
#include "base/Text.h"
#include "data/Constants.h"
#include "display/Bmp.h"
#include "display/Dashboard.h"
#include "model/Inputs.h"
#include "model/Modules.h"
#include "run/RunControl.h"
#include "qt/Charts.h"
#include "qt/Manual.h"
#include "qt/Translations.h"
#include "qt/Widgets.h"
#include "state/Snapshot.h"

namespace drivanto {

// The widget that shows the drawing surface.
class Surface : public QWidget {
 public:
  Surface(const QImage* image, QWidget* parent) : QWidget(parent), image_(image) {
    setFixedSize(800, 600);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.drawImage(0, 0, *image_);
  }

 private:
  const QImage* image_;
};

namespace {
QString KeypadDigit(int key) {
  switch (key) {
    case Qt::Key_Insert: return "0";
    case Qt::Key_End: return "1";
    case Qt::Key_Down: return "2";
    case Qt::Key_PageDown: return "3";
    case Qt::Key_Left: return "4";
    case Qt::Key_Clear: return "5";
    case Qt::Key_Right: return "6";
    case Qt::Key_Home: return "7";
    case Qt::Key_Up: return "8";
    case Qt::Key_PageUp: return "9";
    default: return {};
  }
}

}  // namespace

MainWindow::MainWindow(WindowOptions options, QWidget* parent)
    : QMainWindow(parent), options_(std::move(options)), image_(800, 600, QImage::Format_RGB32) {
  // The time base reads its clock through the recorder of drives.
  recordingClock_ = std::make_unique<RecordingClock>(
      options_.simulatedClock ? static_cast<Clock&>(simClock_) : static_cast<Clock&>(systemClock_),
      recorder_);
  sim_.clock = recordingClock_.get();
  tickObservers_ = {&guardedRecorder_, &history_};
  pendingRecord_ = options_.recordFile;
  image_.fill(QColor(56, 144, 13));
  canvas_ = std::make_unique<QtCanvas>(&image_, DashboardFont());
  setWindowTitle("Drivanto  Ver 2.0");
  setFont(DashboardFont());
  BuildMenu();
  BuildControls();
  // The dashboard has one size; the window keeps it.
  layout()->setSizeConstraint(QLayout::SetFixedSize);
  // At its usual place, but whole on a small screen (1366 x 768): moved up
  // and left as far as needed, with room for a title bar.
  adjustSize();
  QPoint at(142, 169);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect room = screen->availableGeometry();
    constexpr int kTitleBar = 32;
    at.setX(std::max(room.left(), std::min(at.x(), room.right() + 1 - width())));
    at.setY(std::max(room.top(), std::min(at.y(), room.bottom() + 1 - height() - kTitleBar)));
  }
  move(at);
  timer_.setInterval(40);
  connect(&timer_, &QTimer::timeout, this, [this] { TimerTick(); });
  qApp->installEventFilter(this);
  chooser_ = [this](const FileRequest& r) -> std::optional<QString> {
    const std::unique_ptr<QFileDialog> dialog = MakeFileDialog(this, r);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) {
      return std::nullopt;
    }
    return dialog->selectedFiles().first();
  };
  terminate_ = [](int code) {
    std::fflush(nullptr);
    std::_Exit(code);
  };
  messageSink_ = [this](const QString& text) { QMessageBox::critical(this, "Drivanto", text); };
}

MainWindow::~MainWindow() { qApp->removeEventFilter(this); }

std::unique_ptr<QFileDialog> MakeFileDialog(QWidget* parent, const FileRequest& r) {
  auto dialog = std::make_unique<QFileDialog>(parent, r.title, r.folder, r.filter);
  // The toolkit's own dialog, which speaks Swedish, rather than the desktop's.
  dialog->setOption(QFileDialog::DontUseNativeDialog);
  dialog->setAcceptMode(r.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  if (!r.defaultSuffix.isEmpty()) dialog->setDefaultSuffix(r.defaultSuffix);
  if (!r.defaultName.isEmpty()) dialog->selectFile(r.defaultName);
  dialog->setViewMode(QFileDialog::Detail);
  QSize size(900, 560);
  if (const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen()) {
    size = size.boundedTo(screen->availableGeometry().size() - QSize(40, 60));
  }
  dialog->resize(size);
  // The name takes the room the size, kind and date leave it; those are
  // never cut short.
  if (auto* list = dialog->findChild<QTreeView*>("treeView")) {
    QHeaderView* header = list->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(0, QHeaderView::Stretch);
  }
  return dialog;
}

void MainWindow::BuildMenu() {
  QMenuBar* bar = menuBar();
  QMenu* konst = bar->addMenu("Konstanter");
  const std::pair<const char*, Panel> items[] = {{"Använda filer", Panel::Files},
                                                 {"Bilkonstanter.", Panel::CarConstants},
                                                 {"Programkonstanter", Panel::ProgramConstants},
                                                 {"Utgångsvärden", Panel::StartValues},
                                                 {"Moder", Panel::Modes},
                                                 {"Strategi", Panel::Strategy}};
  for (auto [item, panel] : items) {
    const Panel p = panel;
    connect(konst->addAction(QString::fromUtf8(item)), &QAction::triggered, this,
            [this, p] { PanelChosen(p); });
  }
  connect(bar->addAction("Bilmapp"), &QAction::triggered, this, [this] { CarFolderChosen(); });
  QMenu* get = bar->addMenu(QString::fromUtf8("Hämta"));
  connect(get->addAction("Konstanter"), &QAction::triggered, this, [this] { GetConstantsChosen(); });
  connect(get->addAction("Konstanter och variabler"), &QAction::triggered, this,
          [this] { GetSnapshotChosen(); });
  connect(get->addAction("Musseldiagram"), &QAction::triggered, this, [this] { GetEfficiencyMapChosen(); });
  get->addSeparator();
  connect(get->addAction(QString::fromUtf8("Batterivärden")), &QAction::triggered, this,
          [this] { BatteryValuesChosen(); });
  QMenu* save = bar->addMenu("Spara");
  connect(save->addAction("Spara konstanter som"), &QAction::triggered, this,
          [this] { SaveConstantsChosen(); });
  connect(save->addAction("Spara konstanter och variabler som"), &QAction::triggered, this,
          [this] { SaveSnapshotChosen(); });
  save->addSeparator();
  connect(save->addAction("Skriv ut konstanter"), &QAction::triggered, this,
          [this] { PrintConstantsChosen(); });
  save->addAction("Skriv ut konstanter och variabler");  // nothing is printed
  save->addSeparator();
  connect(save->addAction(QString::fromUtf8("Spara körning som...")), &QAction::triggered, this,
          [this] { RecordChosen(); });
  connect(bar->addAction("Stopp/Start"), &QAction::triggered, this, [this] { StopStartChosen(); });
  connect(bar->addAction("Bruksanvisning"), &QAction::triggered, this, [this] { ManualChosen(); });
  connect(bar->addAction("Diagram"), &QAction::triggered, this, [this] { DiagramChosen(); });
}

QAction* MainWindow::action(const QString& path) const {
  for (QAction* top : menuBar()->actions()) {
    if (!top->menu() && top->text() == path) return top;
  }
  const int slash = path.indexOf('/');
  const QString menu = slash < 0 ? QString() : path.left(slash);
  const QString text = slash < 0 ? path : path.mid(slash + 1);
  for (QAction* top : menuBar()->actions()) {
    if (top->menu()) {
      if (!menu.isEmpty() && top->text() != menu) continue;
      for (QAction* a : top->menu()->actions()) {
        if (a->text() == text) return a;
      }
    } else if (menu.isEmpty() && top->text() == text) {
      return top;
    }
  }
  return nullptr;
}

void MainWindow::BuildControls() {
  surface_ = new Surface(&image_, this);
  surface_->setObjectName("surface");
  setCentralWidget(surface_);

  image1_ = new ClickLabel([this] { StartPictureClicked(); }, surface_);
  image1_->setObjectName("startPicture");
  image1_->setGeometry(0, 0, 750, 500);
  image1_->setScaledContents(true);
  QImage start(":/drivanto/START.BMP");
  if (!start.isNull()) image1_->setPixmap(QPixmap::fromImage(start));

  label1_ = new QLabel("D r i v a n t o ", surface_);
  label1_->setObjectName("titleLabel");
  label1_->setGeometry(280, 124, 234, 33);
  QFont title("Lucida Blackletter");
  title.setPixelSize(29);
  label1_->setFont(title);
  label1_->setStyleSheet("color: rgb(0,0,255);");

  button1_ = new QPushButton("START", surface_);
  button1_->setObjectName("startButton");
  button1_->setGeometry(672, 480, 97, 33);
  QFont big("Lucida Calligraphy");
  big.setPixelSize(24);
  button1_->setFont(big);
  button1_->setStyleSheet("color: rgb(0,0,255);");
  connect(button1_, &QPushButton::clicked, this, [this] { StartClicked(); });

  edit1_ = new QLineEdit("Edit1", surface_);
  edit1_->setObjectName("keyBox");
  edit1_->setGeometry(784, 0, 7, 26);
  edit1_->setStyleSheet("background: rgb(255,0,255);");

  edit2_ = new QLineEdit(surface_);
  edit2_->setObjectName("messageBox");
  edit2_->setGeometry(448, 300, 121, 26);
  edit2_->setStyleSheet("background: rgb(255,0,0);");
  edit2_->hide();

  edit5_ = new QLineEdit(surface_);
  edit5_->setObjectName("mapScaleBox");
  edit5_->setGeometry(185, 70, 41, 23);
  edit5_->setFrame(false);
  QFont small = DashboardFont();
  small.setPixelSize(12);
  edit5_->setFont(small);
  edit5_->setStyleSheet("background: black; color: white;");
  edit5_->hide();

  memo14_ = new ClickText([this] { ManualClicked(); }, surface_);
  memo14_->setObjectName("manual");
  memo14_->setGeometry(8, 0, 625, 401);
  memo14_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memo14_->setReadOnly(true);
  QStringList lines;
  for (const std::string& l : ManualLines()) lines << Q(l);
  memo14_->setPlainText(lines.join("\n"));
  memo14_->hide();
  BuildPanels();
}

void MainWindow::BuildPanels() {
  struct Geometry {
    QRect labels, values;
  };
  // Each value sits on its label's line: the two boxes start at the same
  // height, never wrap a line and scroll together; long names scroll
  // sideways in a value box that stays inside the window.
  const Geometry geometry[kPanelCount] = {{{10, 0, 385, 409}, {400, 0, 395, 409}},
                                          {{8, 0, 489, 409}, {520, 0, 249, 409}},
                                          {{8, 0, 489, 353}, {520, 0, 249, 353}},
                                          {{8, 0, 489, 250}, {520, 0, 249, 250}},
                                          {{8, 0, 489, 257}, {520, 0, 249, 145}},
                                          {{8, 0, 489, 250}, {520, 0, 249, 250}}};
  for (int i = 0; i < kPanelCount; ++i) {
    const Panel panel = static_cast<Panel>(i);
    auto* labels = new ClickText([this, panel] { LabelBoxClicked(panel); }, surface_);
    labels->setGeometry(geometry[i].labels);
    labels->setReadOnly(true);
    labels->setPlainText(Lines(PanelLabelRows(panel)));
    labels->hide();
    auto* values = new RowBox([this] { ValueBoxClicked(); }, surface_);
    values->setGeometry(geometry[i].values);
    values->hide();
    for (QPlainTextEdit* box :
         {static_cast<QPlainTextEdit*>(labels), static_cast<QPlainTextEdit*>(values)}) {
      box->setLineWrapMode(QPlainTextEdit::NoWrap);
      box->setFont(font());
    }
    values->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    connect(values->verticalScrollBar(), &QScrollBar::valueChanged, labels->verticalScrollBar(),
            &QScrollBar::setValue);
    connect(labels->verticalScrollBar(), &QScrollBar::valueChanged, values->verticalScrollBar(),
            &QScrollBar::setValue);
    labels->setObjectName(QString("panelLabels%1").arg(i));
    values->setObjectName(QString("panelValues%1").arg(i));
    panels_[i] = {labels, values, {}};
  }
  memo3_ = new ClickText([this] { CarFolderNoticeClicked(); }, surface_);
  memo3_->setObjectName("carFolderLabels");
  memo3_->setReadOnly(true);
  memo3_->setPlainText(Lines(CarFolderRows()));
  // Tall enough for all its rows.
  const int rows = static_cast<int>(CarFolderRows().size());
  memo3_->setGeometry(0, 0, 401,
                      rows * memo3_->fontMetrics().lineSpacing() + 2 * memo3_->frameWidth() +
                          2 * static_cast<int>(memo3_->document()->documentMargin()) + 4);
  memo3_->hide();
  edit3_ = new ClickLine([this] { CarFolderBoxClicked(); }, surface_);
  edit3_->setObjectName("carFolderBox");
  edit3_->setGeometry(400, 40, 390, 26);
  edit3_->hide();
  memo12_ = new ClickText([this] { PrintNoticeClicked(); }, surface_);
  memo12_->setObjectName("printNotice");
  memo12_->setGeometry(16, 0, 481, 97);
  memo12_->setReadOnly(true);
  memo12_->setPlainText(Lines(PrintNoticeRows()));
  memo12_->hide();
}

void MainWindow::ShowError(const QString& text) { messageSink_(text); }

bool MainWindow::Guarded(const std::function<void()>& f) {
  try {
    f();
    return true;
  } catch (const TableRangeError& e) {
    std::cerr << Printable(e.line1()) << "\n" << Printable(e.line2()) << "\n";
    if (!e.notWritten().empty())
      std::cerr << "ERROR.TAB could not be written: " << e.notWritten() << "\n";
    timer_.stop();
    terminate_(3);
    return false;
  } catch (const IoError& e) {
    timer_.stop();
    ShowError(SwedishMessage(e));
    return false;
  } catch (const std::bad_alloc&) {
    timer_.stop();
    ShowError(SwedishMessage(DescribeUnexpected("out of memory")));
    return false;
  } catch (const std::exception& e) {
    timer_.stop();
    ShowError(SwedishMessage(DescribeUnexpected(e.what())));
    return false;
  }
}

void MainWindow::LoadPictures() {
  mussbild_ = LoadBmp(sim_.s.Mussfil);
  for (int i = 0; i < 4; ++i) {
    motbild_[i] = LoadBmp(JoinPath(sim_.s.startmapp, "MOT" + std::to_string(i + 1) + ".BMP"));
    motbild_[i].transparent = true;
  }
}

bool MainWindow::StartUpSequence() {
  startedUp_ = true;
  return Guarded([this] {
    StartUp(sim_, options_.folder);
    // The strategy chosen for this folder in an earlier session.
    TakeFolderStrategy(sim_);
    LoadPictures();
    SetTitle(ComposeTitle(sim_.s));
  });
}

void MainWindow::Redraw() { surface_->update(); }

void MainWindow::StartClicked() {
  button1_->hide();
  label1_->move(label1_->x(), 590);
  image1_->move(image1_->x(), 590);
  label1_->hide();
  image1_->hide();
  history_.Clear();
  // A drive recorded from the start holds the state START began with.
  if (!pendingRecord_.empty()) {
    const std::string file = pendingRecord_;
    pendingRecord_.clear();
    Guarded([&] { BeginRecording(file); });
  }
  recorder_.DropReadings();
  if (!Guarded([this] { Start(sim_, this); })) return;
  Guarded([this] { recorder_.AfterTick(0, sim_.s); });
  edit1_->setFocus();
  timer_.start();
  Redraw();
}

void MainWindow::TimerTick() {
  if (options_.simulatedClock) simClock_.now += 0.04;
  // After a failed tick the run is held as by "Stopp/Start": once the file is
  // mended, "Stopp/Start" continues it.
  if (!Guarded([this] { ObservedTick(sim_, this, tickObservers_, &steps_); })) sim_.s.paus = 1;
  Redraw();
}

void MainWindow::DiagramChosen() {
  if (!charts_) {
    charts_ = new ChartsWindow(sim_, history_, this);
    charts_->PlaceBesideMain();
  }
  charts_->show();
  charts_->raise();
  charts_->Refresh();
}

void MainWindow::RecordChosen() {
  const std::optional<QString> chosen =
      Choose({QString::fromUtf8("Spara körning som"),
              QString::fromUtf8("Körningar (*.txt);;Alla filer (*)"), "korning.txt", "txt",
              Q(sim_.s.startmapp), true});
  if (!chosen) return;
  if (sim_.s.stegnr == 0) {
    // Before START the drive is recorded from START on.
    pendingRecord_ = S(*chosen);
    return;
  }
  Guarded([&] { BeginRecording(S(*chosen)); });
}

void MainWindow::BeginRecording(const std::string& file) {
  // A recording is an output like the result files: never onto an input.
  sim_.namedOutputs.erase(
      std::remove_if(sim_.namedOutputs.begin(), sim_.namedOutputs.end(),
                     [](const auto& o) { return o.first == "the drive recording"; }),
      sim_.namedOutputs.end());
  CheckOutputFile(sim_, file, "the drive recording");
  recorder_.Begin(file, sim_.s, DecimalSeparator(), SavedStrategyText(sim_.strategy.get()));
  sim_.namedOutputs.emplace_back("the drive recording", file);
}

void MainWindow::StopStartChosen() {
  State& s = sim_.s;
  if (!s.paus) {
    s.paus = 1;
    timer_.stop();
  } else {
    if (!Guarded([this] { ScreenSetup(sim_, this); })) return;
    timer_.start();
    Redraw();
  }
}

void MainWindow::StartPictureClicked() {
  if (image1_->x() == 0) {
    image1_->setGeometry(248, 176, 369, 281);
  } else {
    image1_->setGeometry(0, 0, 750, 500);
  }
}

void MainWindow::ManualChosen() {
  edit5_->hide();
  memo14_->show();
  memo14_->raise();
}

void MainWindow::ManualClicked() {
  memo14_->hide();
  if (sim_.s.stegnr > 1) {
    Guarded([this] { ScreenSetup(sim_, this); });
    Redraw();
  }
  edit1_->setFocus();
}

void MainWindow::GetEfficiencyMapChosen() {
  State& s = sim_.s;
  const FileRequest r{QString::fromUtf8("Hämta musseldiagram"),
                      QString::fromUtf8("BMP-bilder (*.bmp *.BMP);;Alla bilder (*.bmp *.BMP "
                                        "*.ico *.emf *.wmf)"),
                      "Vgrad.BMP",
                      "BMP",
                      Q(s.Bilmapp),
                      false};
  std::optional<QString> chosen = chooser_(r);
  // A cancelled dialog leaves the view as it was.
  if (!chosen) return;
  s.outputFlags.Set(4, 'M');
  s.Mussfil = Cut250(S(*chosen));
  Guarded([this] {
    mussbild_ = LoadBmp(sim_.s.Mussfil);
    if (sim_.s.stegnr > 1) DrawMapScreen(*canvas_, &mussbild_);
  });
  Redraw();
}

void MainWindow::BatteryValuesChosen() {
  sim_.s.outputFlags.Set(4, 'B');
  if (sim_.s.stegnr > 1) {
    Guarded([this] { ScreenSetup(sim_, this); });
    Redraw();
  }
}

// ---- Display ----

void MainWindow::DrawBackground(Sim& sim) {
  mussbild_ = LoadBmp(sim.s.Mussfil);
  drivanto::DrawBackground(*canvas_, sim.s, &mussbild_);
  if (sim.s.outputFlags.At(4) == 'M') {
    edit5_->setText(QString::number(RoundInt(sim.s.mussskala)));
    edit5_->show();
  } else {
    edit5_->hide();
  }
}

void MainWindow::DrawInstruments(const Sim& sim, const RoadView& road) {
  drivanto::DrawInstruments(*canvas_, sim.s);
  std::string message =
      DrawRoadView(*canvas_, road, {&motbild_[0], &motbild_[1], &motbild_[2], &motbild_[3]});
  if (!message.empty()) ShowMessage(message);
}

void MainWindow::SetTitle(const std::string& title) {
  // Which strategy runs, when it is not the car's own.
  const Strategy* strategy = sim_.strategy.get();
  setWindowTitle(Q(strategy ? title + "   Strategi: " + strategy->Name() : title));
}

void MainWindow::ShowMessage(const std::string& text) {
  edit2_->setText(Q(text));
  edit2_->show();
}

void MainWindow::StopTimer() { timer_.stop(); }

void MainWindow::EndTick() {
  edit1_->clear();
  edit1_->setFocus();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == edit1_ && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    QString text = key->text();
    if (text.isEmpty() && (key->modifiers() & Qt::KeypadModifier)) text = KeypadDigit(key->key());
    if (!text.isEmpty() && text[0].unicode() >= 32)
      sim_.s.keyTyped = FirstCharCp1252(S(text.left(1)));
    if (key->text().isEmpty() && !text.isEmpty()) edit1_->insert(text);
  }
  if (event->type() == QEvent::MouseMove) {
    auto* w = qobject_cast<QWidget*>(watched);
    if (w && (w == this || isAncestorOf(w))) {
      auto* m = static_cast<QMouseEvent*>(event);
      QPoint p = surface_->mapFromGlobal(m->globalPosition().toPoint());
      sim_.s.mouseX = p.x();
      sim_.s.mouseY = p.y();
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace drivanto
