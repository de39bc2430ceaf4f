#pragma once
// The shared progress window. Callers hold the UI thread for the whole operation, so every
// change they want seen is followed by repaintNow(); show and close are safe in any state.

#include <QWidget>

#include "image/ConfigCodec.h"

class QLabel;
class QProgressBar;

class TProgress : public QWidget, public ImageProgress {
  Q_OBJECT
public:
  explicit TProgress(QWidget *parent = nullptr);

  QLabel *Label1 = nullptr;
  QProgressBar *ProgressBar1 = nullptr;

  void setText(const QString &text) override;
  void setPosition(int position) override;   // above 100 shows a full bar
  void stepBy(int delta) override;
  int position() const { return position_; }
  QString text() const;
  bool isShown() const { return isVisible(); }
  void showWindow();                // returns once the window is on screen and painted
  void closeWindow();               // hides; nothing happens when already hidden
  void repaintNow() override;       // paints at once, without running the event loop

protected:
  void showEvent(QShowEvent *event) override;
  void closeEvent(QCloseEvent *event) override;

private:
  int position_ = 0;
};

extern TProgress *Progress;
