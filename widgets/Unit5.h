#pragma once
// The shared progress window. Callers hold the UI thread for the whole operation, so every
// change they want seen is followed by repaintNow(); show and close are safe in any state.

#include <QPointer>
#include <QWidget>

#include "image/ConfigCodec.h"

class QLabel;
class QProgressBar;

class TProgress : public QWidget {
  Q_OBJECT
public:
  explicit TProgress(QWidget *parent = nullptr);
  // The window whose operations it shows; it appears centred over it.
  void setOwner(QWidget *owner) { owner_ = owner; }

  QLabel *Label1 = nullptr;
  QProgressBar *ProgressBar1 = nullptr;

  void setText(const QString &text);
  void setPosition(int position);   // above 100 shows a full bar
  void stepBy(int delta);
  int position() const { return position_; }
  QString text() const;
  bool isShown() const { return isVisible(); }
  void showWindow();                // returns once the window is on screen and painted
  void closeWindow();               // hides; nothing happens when already hidden
  void repaintNow();                // paints at once, without running the event loop
  // The bar alone, at once, unless it has painted its present position already (the bar
  // repaints itself on some steps): during a transfer only the bar changes.
  void repaintBar();

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;
  void showEvent(QShowEvent *event) override;
  void closeEvent(QCloseEvent *event) override;

private:
  int position_ = 0;
  int paintedPosition_ = -1;   // the bar's value at its last paint
  QPointer<QWidget> owner_;
};

// The codec's progress points on a progress window. The codec holds the UI thread while it
// runs, so each point is painted at once.
class TShownProgress final : public ImageProgress {
public:
  explicit TShownProgress(TProgress *window) : window_(window) {}
  void setText(const QString &text) override { window_->setText(text); }
  void setPosition(int position) override { window_->setPosition(position); window_->repaintNow(); }
  void stepBy(int delta) override { window_->stepBy(delta); window_->repaintNow(); }

private:
  TProgress *window_;
};

extern TProgress *Progress;
