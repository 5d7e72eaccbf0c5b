#include "shell/qt/MainWindow.h"

#include <unistd.h>

#include <QApplication>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <cstdio>
#include <iostream>

#include "base/Errors.h"
#include "base/Files.h"
#include "base/Rounding.h"
#include "base/Text.h"
#include "display/Bmp.h"
#include "display/Dashboard.h"
#include "model/Modules.h"
#include "shell/qt/Manual.h"

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

// A label that reports clicks.
class ClickLabel : public QLabel {
 public:
  ClickLabel(std::function<void()> onClick, QWidget* parent) : QLabel(parent), onClick_(std::move(onClick)) {}

 protected:
  void mousePressEvent(QMouseEvent* e) override {
    if (e->button() == Qt::LeftButton) onClick_();
  }

 private:
  std::function<void()> onClick_;
};

class ClickText : public QPlainTextEdit {
 public:
  ClickText(std::function<void()> onClick, QWidget* parent) : QPlainTextEdit(parent), onClick_(std::move(onClick)) {}

 protected:
  void mousePressEvent(QMouseEvent* e) override {
    QPlainTextEdit::mousePressEvent(e);
    if (e->button() == Qt::LeftButton) onClick_();
  }

 private:
  std::function<void()> onClick_;
};

QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }
std::string S(const QString& q) { return q.toUtf8().toStdString(); }

// Keypad keys without NumLock arrive as the digits they carry.
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

std::string FindWorkingFolder(const std::string& given, std::string* looked) {
  auto has = [](const std::string& folder) {
    return ::access(ResolveCase(JoinPath(folder, "CONS.VAL")).c_str(), R_OK) == 0;
  };
  std::vector<std::string> folders;
  if (!given.empty()) {
    folders.push_back(given);
  } else {
    char buf[4096];
    if (::getcwd(buf, sizeof buf)) folders.push_back(buf);
    folders.push_back(DRIVANTO_DATA_DIR);
  }
  std::string list;
  for (const std::string& f : folders) {
    if (has(f)) return f;
    list += (list.empty() ? "" : ", ") + f;
  }
  if (looked) *looked = list;
  return {};
}

MainWindow::MainWindow(WindowOptions options, QWidget* parent)
    : QMainWindow(parent), options_(std::move(options)), image_(800, 600, QImage::Format_RGB32) {
  sim_.clock = options_.simulatedClock ? static_cast<Clock*>(&simClock_) : &systemClock_;
  image_.fill(QColor(56, 144, 13));
  canvas_ = std::make_unique<QtCanvas>(&image_, DashboardFont());
  setWindowTitle("Drivanto  Ver 2.0");
  setFont(DashboardFont());
  BuildMenu();
  BuildControls();
  move(142, 169);
  timer_.setInterval(40);
  connect(&timer_, &QTimer::timeout, this, [this] { Timer1Timer(); });
  qApp->installEventFilter(this);
  chooser_ = [this](const FileRequest& r) -> std::optional<QString> {
    QFileDialog dialog(this, r.title, r.folder, r.filter);
    dialog.setAcceptMode(r.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    if (!r.defaultSuffix.isEmpty()) dialog.setDefaultSuffix(r.defaultSuffix);
    if (!r.defaultName.isEmpty()) dialog.selectFile(r.defaultName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().first();
  };
  terminate_ = [](int code) {
    std::fflush(nullptr);
    std::_Exit(code);
  };
  messageSink_ = [this](const QString& text) { QMessageBox::critical(this, "Drivanto", text); };
}

MainWindow::~MainWindow() { qApp->removeEventFilter(this); }

QWidget* MainWindow::surfaceWidget() const { return surface_; }

void MainWindow::BuildMenu() {
  QMenuBar* bar = menuBar();
  QMenu* konst = bar->addMenu("Konstanter");
  for (const char* item : {"Använda filer", "Bilkonstanter.", "Programkonstanter", "Utgångsvärden", "Moder"}) {
    konst->addAction(QString::fromUtf8(item));
  }
  bar->addAction("Bilmapp");
  QMenu* get = bar->addMenu(QString::fromUtf8("Hämta"));
  get->addAction("Konstanter");
  get->addAction("Konstanter och variabler");
  connect(get->addAction("Musseldiagram"), &QAction::triggered, this, [this] { MGetMussClick(); });
  get->addSeparator();
  connect(get->addAction(QString::fromUtf8("Batterivärden")), &QAction::triggered, this,
          [this] { BatvalueClick(); });
  QMenu* save = bar->addMenu("Spara");
  save->addAction("Spara konstanter som");
  save->addAction("Spara konstanter och variabler som");
  save->addSeparator();
  save->addAction("Skriv ut konstanter");
  save->addAction("Skriv ut konstanter och variabler");
  connect(bar->addAction("Stopp/Start"), &QAction::triggered, this, [this] { StClick(); });
  connect(bar->addAction("Bruksanvisning"), &QAction::triggered, this, [this] { AnvisnClick(); });
}

QAction* MainWindow::action(const QString& text) const {
  for (QAction* a : menuBar()->findChildren<QAction*>()) {
    if (a->text() == text) return a;
  }
  return nullptr;
}

void MainWindow::BuildControls() {
  surface_ = new Surface(&image_, this);
  setCentralWidget(surface_);

  image1_ = new ClickLabel([this] { Image1Click(); }, surface_);
  image1_->setGeometry(0, 0, 750, 500);
  image1_->setScaledContents(true);
  QImage start(Q(JoinPath(DRIVANTO_DATA_DIR, "START.BMP")));
  if (!start.isNull()) image1_->setPixmap(QPixmap::fromImage(start));

  label1_ = new QLabel("D r i v a n t o ", surface_);
  label1_->setGeometry(280, 124, 234, 33);
  QFont title("Lucida Blackletter");
  title.setPixelSize(29);
  label1_->setFont(title);
  label1_->setStyleSheet("color: rgb(0,0,255);");

  button1_ = new QPushButton("START", surface_);
  button1_->setGeometry(672, 480, 97, 33);
  QFont big("Lucida Calligraphy");
  big.setPixelSize(24);
  button1_->setFont(big);
  button1_->setStyleSheet("color: rgb(0,0,255);");
  connect(button1_, &QPushButton::clicked, this, [this] { Button1Click(); });

  edit1_ = new QLineEdit("Edit1", surface_);
  edit1_->setGeometry(784, 0, 7, 26);
  edit1_->setStyleSheet("background: rgb(255,0,255);");
  edit1_->installEventFilter(this);

  edit2_ = new QLineEdit(surface_);
  edit2_->setGeometry(448, 300, 121, 26);
  edit2_->setStyleSheet("background: rgb(255,0,0);");
  edit2_->hide();

  edit5_ = new QLineEdit(surface_);
  edit5_->setGeometry(185, 70, 41, 23);
  edit5_->setFrame(false);
  QFont small = DashboardFont();
  small.setPixelSize(12);
  edit5_->setFont(small);
  edit5_->setStyleSheet("background: black; color: white;");
  edit5_->hide();

  memo14_ = new ClickText([this] { Memo14Click(); }, surface_);
  memo14_->setGeometry(8, 0, 625, 401);
  memo14_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memo14_->setReadOnly(true);
  QStringList lines;
  for (const std::string& l : ManualLines()) lines << Q(l);
  memo14_->setPlainText(lines.join("\n"));
  memo14_->hide();
}

void MainWindow::ShowError(const QString& text) { messageSink_(text); }

bool MainWindow::Guarded(const std::function<void()>& f) {
  try {
    f();
    return true;
  } catch (const TableRangeError& e) {
    std::cerr << e.line1() << "\n" << e.line2() << "\n";
    timer_.stop();
    terminate_(3);
    return false;
  } catch (const IoError& e) {
    timer_.stop();
    ShowError(Q(e.what()));
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
    LoadPictures();
    SetTitle(ComposeTitle(sim_.s));
  });
}

void MainWindow::Redraw() { surface_->update(); }

void MainWindow::Button1Click() {
  button1_->hide();
  label1_->move(label1_->x(), 590);
  image1_->move(image1_->x(), 590);
  label1_->hide();
  image1_->hide();
  if (!Guarded([this] { Start(sim_, this); })) return;
  edit1_->setFocus();
  timer_.start();
  Redraw();
}

void MainWindow::Timer1Timer() {
  if (options_.simulatedClock) simClock_.now += 0.04;
  Guarded([this] { Tick(sim_, this); });
  Redraw();
}

void MainWindow::StClick() {
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

void MainWindow::Image1Click() {
  if (image1_->x() == 0) {
    image1_->setGeometry(248, 176, 369, 281);
  } else {
    image1_->setGeometry(0, 0, 750, 500);
  }
}

void MainWindow::AnvisnClick() {
  edit5_->hide();
  memo14_->show();
  memo14_->raise();
}

void MainWindow::Memo14Click() {
  memo14_->hide();
  if (sim_.s.stegnr > 1) {
    Guarded([this] { ScreenSetup(sim_, this); });
    Redraw();
  }
  edit1_->setFocus();
}

void MainWindow::MGetMussClick() {
  State& s = sim_.s;
  const FileRequest r{QString::fromUtf8("Hämta musseldiagram"),
                      "Bitmaps (*.bmp *.BMP);;All (*.bmp *.BMP *.ico *.emf *.wmf)", "Vgrad.BMP",
                      "BMP", Q(s.Bilmapp), false};
  std::optional<QString> chosen = chooser_(r);
  // A cancelled dialog leaves the view as it was.
  if (!chosen) return;
  s.Spara.Set(4, 'M');
  s.Mussfil = Cut250(S(*chosen));
  Guarded([this] {
    mussbild_ = LoadBmp(sim_.s.Mussfil);
    if (sim_.s.stegnr > 1) DrawMapScreen(*canvas_, &mussbild_);
  });
  Redraw();
}

void MainWindow::BatvalueClick() {
  sim_.s.Spara.Set(4, 'B');
  if (sim_.s.stegnr > 1) {
    Guarded([this] { ScreenSetup(sim_, this); });
    Redraw();
  }
}

// ---- Display ----

void MainWindow::DrawBackground(Sim& sim) {
  mussbild_ = LoadBmp(sim.s.Mussfil);
  drivanto::DrawBackground(*canvas_, sim.s, &mussbild_);
  if (sim.s.Spara.At(4) == 'M') {
    edit5_->setText(QString::number(RoundInt(sim.s.mussskala)));
    edit5_->show();
  } else {
    edit5_->hide();
  }
}

void MainWindow::DrawInstruments(Sim& sim) {
  drivanto::DrawInstruments(*canvas_, sim.s);
  std::string message = DrawRoadView(*canvas_, sim.s, {&motbild_[0], &motbild_[1], &motbild_[2], &motbild_[3]});
  if (!message.empty()) ShowMessage(message);
}

void MainWindow::SetTitle(const std::string& title) { setWindowTitle(Q(title)); }

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
    if (!text.isEmpty() && text[0].unicode() >= 32) sim_.s.tangent = FirstCharCp1252(S(text.left(1)));
    if (key->text().isEmpty() && !text.isEmpty()) edit1_->insert(text);
  }
  if (event->type() == QEvent::MouseMove) {
    auto* w = qobject_cast<QWidget*>(watched);
    if (w && (w == this || isAncestorOf(w))) {
      auto* m = static_cast<QMouseEvent*>(event);
      QPoint p = surface_->mapFromGlobal(m->globalPosition().toPoint());
      sim_.s.musx = p.x();
      sim_.s.musy = p.y();
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace drivanto
