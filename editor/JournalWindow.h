#pragma once
// The main window's journal of exchanges: every read and write of the window goes into the
// journal (TExchangeJournal), and "Журнал обменов…" lists what is there (TJournalWindow).
// Built only with the journal (Qt SQL).

#ifdef QUORLAN_WITH_JOURNAL

#include <QDialog>
#include <QObject>
#include <functional>
#include <memory>

#include "image/ConfigImageTypes.h"
#include "journal/Journal.h"

class QPushButton;
class QTableWidget;
class TLink;

// Follows the link's signals and records each read and write of the main window when it ends.
// A journal that cannot be opened or written is told once through `warn`, and the exchanges go
// on as before.
class TExchangeJournal : public QObject {
  Q_OBJECT
public:
  TExchangeJournal(TLink *link, std::function<void(const QString &)> warn, QObject *parent);
  ~TExchangeJournal() override;

  // Before the link's command: what the window asks for. `file` is where the image came from,
  // when known.
  void beginWrite(const ConfigImageBytes &image, const QString &file = {});
  void beginRead();
  // After the command: a command the link refused ended nothing.
  void commandSent();

private:
  void end(bool ok, const QString &outcome, const QByteArray &image = {});
  journal::Journal *journal();

  TLink *link_;
  std::function<void(const QString &)> warn_;
  std::unique_ptr<journal::Journal> journal_;
  bool tried_ = false, warned_ = false;
  QString version_, key_;
  bool pending_ = false;
  journal::Entry entry_;
};

// "Журнал обменов": the entries newest first; the chosen one's image opened in the editor or
// saved to a file.
class TJournalWindow : public QDialog {
  Q_OBJECT
public:
  explicit TJournalWindow(QWidget *parent);
  void reload();

signals:
  void openRequested(const ConfigImageBytes &image);

private:
  bool chosenImage(ConfigImageBytes *image);
  void save();

  QTableWidget *table_;
  QPushButton *open_, *save_;
  journal::Journal journal_;
};

#endif
