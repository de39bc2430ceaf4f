#include "widgets/Unit5.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QThread>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

TProgress *Progress = nullptr;

namespace {
constexpr QSize kOuterSize(342, 99);
constexpr int kExposeWaitMs = 1000;
}

TProgress::TProgress(QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint) {
  setObjectName(QStringLiteral("Progress"));
  setWindowTitle(QStringLiteral("Progress"));
  setAttribute(Qt::WA_QuitOnClose, false);
  auto *lay = new QVBoxLayout(this);
  lay->setContentsMargins(10, 6, 10, 8);
  Label1 = new QLabel(QStringLiteral("Прогресс"), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setTextFormat(Qt::PlainText);
  QFont f = Label1->font();
  f.setPixelSize(16);
  Label1->setFont(f);
  ProgressBar1 = new QProgressBar(this);
  ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  ProgressBar1->setTextVisible(false);
  ProgressBar1->installEventFilter(this);
  lay->addWidget(Label1);
  lay->addWidget(ProgressBar1);
  // Until the window manager tells us its frame, assume a common caption and border.
  setFixedSize(kOuterSize - QSize(16, 39));
}

void TProgress::setText(const QString &text) { Label1->setText(text); }

QString TProgress::text() const { return Label1->text(); }

void TProgress::setPosition(int position) {
  // The image transfer runs to 106; the bar simply stays full.
  position_ = std::clamp(position, 0, 100);
  ProgressBar1->setValue(position_);
}

void TProgress::stepBy(int delta) { setPosition(position_ + delta); }

void TProgress::showWindow() {
  if (isVisible()) return;
  // Over the window whose operation it shows, where the operator is looking.
  if (owner_ && owner_->isVisible())
    move(owner_->frameGeometry().center() - QPoint(width() / 2, height() / 2));
  show();
  // Callers hold the UI thread, and a window the window system has not exposed yet paints
  // nothing: it would stay an empty frame for the whole operation. Let the window system's
  // events through until it is exposed (its first paint comes with that), but no input, no
  // serial data and no timers, and not for long.
  QWindow *window = windowHandle();
#ifdef Q_OS_WIN
  // Windows' event loop runs timers and the serial port's finished reads whatever the flags
  // below say. The window's first paint is asked for directly instead (Qt exposes and paints
  // it within WM_PAINT), and nothing else runs.
  if (window && QGuiApplication::platformName() == QLatin1String("windows")) {
    UpdateWindow(reinterpret_cast<HWND>(window->winId()));
    return;
  }
#endif
  const QDeadlineTimer deadline(kExposeWaitMs);
  while (window && !window->isExposed() && !deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents |
                                    QEventLoop::ExcludeSocketNotifiers |
                                    QEventLoop::X11ExcludeTimers);
    if (!window->isExposed()) QThread::usleep(500);
  }
}

void TProgress::closeWindow() {
  if (isVisible()) hide();
}

void TProgress::repaintNow() {
  if (!isVisible()) return;
  Label1->repaint();
  ProgressBar1->repaint();
}

void TProgress::repaintBar() {
  if (isVisible() && paintedPosition_ != ProgressBar1->value()) ProgressBar1->repaint();
}

bool TProgress::eventFilter(QObject *watched, QEvent *event) {
  if (watched == ProgressBar1 && event->type() == QEvent::Paint) paintedPosition_ = ProgressBar1->value();
  return QWidget::eventFilter(watched, event);
}

void TProgress::showEvent(QShowEvent *event) {
  QWidget::showEvent(event);
  // The outer size is what counts; the frame is known once the window is shown.
  setFixedSize(kOuterSize - (frameGeometry().size() - size()));
}

void TProgress::closeEvent(QCloseEvent *event) {
  // Only callers close it; a window manager's close request just hides it.
  event->ignore();
  hide();
}
