#include "editor/JournalWindow.h"

#ifdef QUORLAN_WITH_JOURNAL

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "image/ConfigFile.h"
#include "link/Link.h"
#include "link/LinkMode.h"
#include "widgets/MessageBoxes.h"

namespace {

QByteArray bytesOf(const ConfigImageBytes &image) {
  return QByteArray(reinterpret_cast<const char *>(image.data()), qsizetype(image.size()));
}

}  // namespace

TExchangeJournal::TExchangeJournal(TLink *link, std::function<void(const QString &)> warn, QObject *parent)
    : QObject(parent), link_(link), warn_(std::move(warn)) {
  // What the controller told in this connection; a new handshake starts anew.
  connect(link, &TLink::connected, this, [this](const QString &version) {
    version_ = version.trimmed();
    key_.clear();
  });
  connect(link, &TLink::masterKeyRead, this, [this](const QString &key) { key_ = key.trimmed(); });
  // The outcomes, in the words the window tells them.
  connect(link, &TLink::imageReceived, this,
          [this](const ConfigImageBytes &image) { end(true, QStringLiteral("считано"), bytesOf(image)); });
  connect(link, &TLink::saveConfirmed, this, [this] { end(true, QStringLiteral("записано")); });
  connect(link, &TLink::saveFailed, this, [this] { end(false, outcomeText(ExchangeOutcome::SaveFailed)); });
  connect(link, &TLink::writeIncomplete, this, [this] { end(false, outcomeText(ExchangeOutcome::WriteIncomplete)); });
  connect(link, &TLink::readIncomplete, this, [this] { end(false, outcomeText(ExchangeOutcome::ReadIncomplete)); });
  connect(link, &TLink::watchdogExpired, this, [this](WatchdogReason reason) {
    if (reason == WatchdogReason::NoReply || reason == WatchdogReason::TransferStalled ||
        reason == WatchdogReason::SaveUnconfirmed)
      end(false, outcomeText(reason));
  });
  connect(link, &TLink::exchangeFailed, this, [this](const QString &detail) {
    end(false, outcomeText(ExchangeOutcome::TransferStalled) + QStringLiteral(": ") + detail);
  });
  connect(link, &TLink::portLost, this, [this](const QString &reason) {
    end(false, outcomeText(ExchangeOutcome::PortLost) + QStringLiteral(": ") + reason);
  });
}

TExchangeJournal::~TExchangeJournal() = default;

journal::Journal *TExchangeJournal::journal() {
  if (!tried_) {
    tried_ = true;
    journal_ = std::make_unique<journal::Journal>();
    QString notice;
    const QString path = journal::Journal::defaultPath();
    if (!journal_->open(path, &notice)) {
      warned_ = true;
      warn_(journal::unavailableText(path, journal_->lastError()));
      journal_.reset();
    } else if (!notice.isEmpty()) {
      warn_(notice);
    }
  }
  return journal_.get();
}

void TExchangeJournal::beginWrite(const ConfigImageBytes &image, const QString &file) {
  entry_ = {};
  entry_.operation = QStringLiteral("write");
  entry_.image = bytesOf(image);
  entry_.file = file;
  pending_ = true;
}

void TExchangeJournal::beginRead() {
  entry_ = {};
  entry_.operation = QStringLiteral("read");
  pending_ = true;
}

void TExchangeJournal::commandSent() {
  if (pending_ && !link_->transferActive()) pending_ = false;
}

void TExchangeJournal::end(bool ok, const QString &outcome, const QByteArray &image) {
  if (!pending_) return;
  pending_ = false;
  const TPortEntry port = link_->portEntry();
  entry_.program = QStringLiteral("quorlan");
  entry_.port = port.name;
  entry_.device = port.device;
  entry_.version = version_;
  entry_.masterKey = key_;
  entry_.ok = ok;
  entry_.outcome = outcome;
  if (entry_.operation == QLatin1String("read")) entry_.image = image;
  journal::Journal *j = journal();
  if (j && !j->record(entry_) && !warned_) {
    warned_ = true;
    warn_(journal::unavailableText(j->path(), j->lastError()));
  }
}

TJournalWindow::TJournalWindow(QWidget *parent) : QDialog(parent) {
  setObjectName(QStringLiteral("JournalWindow"));
  setWindowTitle(QStringLiteral("Журнал обменов"));
  setAttribute(Qt::WA_DeleteOnClose);
  resize(900, 420);
  auto *layout = new QVBoxLayout(this);
  table_ = new QTableWidget(this);
  table_->setObjectName(QStringLiteral("JournalTable"));
  table_->setColumnCount(9);
  table_->setHorizontalHeaderLabels({QStringLiteral("№"), QStringLiteral("Время"), QStringLiteral("Порт"),
                                     QStringLiteral("Действие"), QStringLiteral("Итог"),
                                     QStringLiteral("Версия"), QStringLiteral("Мастер ключ"),
                                     QStringLiteral("Файл"), QStringLiteral("Программа")});
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->setStretchLastSection(true);
  layout->addWidget(table_);
  auto *buttons = new QDialogButtonBox(this);
  open_ = buttons->addButton(QStringLiteral("Открыть в редакторе"), QDialogButtonBox::ActionRole);
  save_ = buttons->addButton(QStringLiteral("Сохранить в файл…"), QDialogButtonBox::ActionRole);
  buttons->addButton(QStringLiteral("Закрыть"), QDialogButtonBox::RejectRole);
  open_->setObjectName(QStringLiteral("JournalOpen"));
  save_->setObjectName(QStringLiteral("JournalSave"));
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(open_, &QPushButton::clicked, this, [this] {
    ConfigImageBytes image{};
    if (chosenImage(&image)) emit openRequested(image);
  });
  connect(save_, &QPushButton::clicked, this, &TJournalWindow::save);
  connect(table_, &QTableWidget::itemSelectionChanged, this, [this] {
    const bool any = table_->currentRow() >= 0 && !table_->selectedItems().isEmpty();
    open_->setEnabled(any);
    save_->setEnabled(any);
  });
  reload();
}

void TJournalWindow::reload() {
  table_->setRowCount(0);
  open_->setEnabled(false);
  save_->setEnabled(false);
  const QString path = journal::Journal::defaultPath();
  if (!journal_.isOpen() && !journal_.open(path)) {
    errorBox(this, journal::unavailableText(path, journal_.lastError()));
    return;
  }
  const QList<journal::Entry> entries = journal_.list();
  table_->setRowCount(int(entries.size()));
  for (int row = 0; row < entries.size(); ++row) {
    const journal::Entry &e = entries[row];
    const QString operation = journal::operationText(e.operation);
    const QStringList cells{QString::number(e.id),
                            e.time.toLocalTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")),
                            e.port, operation, e.outcome, e.version, e.masterKey, e.file,
                            e.program == QLatin1String("quorlan") ? QStringLiteral("окно")
                                                                  : QStringLiteral("командная строка")};
    for (int col = 0; col < cells.size(); ++col) {
      auto *item = new QTableWidgetItem(cells[col]);
      if (col == 0) item->setData(Qt::UserRole, e.id);
      table_->setItem(row, col, item);
    }
  }
  table_->resizeColumnsToContents();
}

bool TJournalWindow::chosenImage(ConfigImageBytes *image) {
  const int row = table_->currentRow();
  if (row < 0 || !table_->item(row, 0)) return false;
  const qint64 id = table_->item(row, 0)->data(Qt::UserRole).toLongLong();
  const auto e = journal_.entry(id);
  if (!e || e->image.size() != qsizetype(kConfigImageSize)) {
    errorBox(this, QStringLiteral("У этой записи нет конфигурации"));
    return false;
  }
  std::copy(e->image.begin(), e->image.end(), reinterpret_cast<char *>(image->data()));
  return true;
}

void TJournalWindow::save() {
  ConfigImageBytes image{};
  if (!chosenImage(&image)) return;
  const QString path = QFileDialog::getSaveFileName(this, QString(), QString(), QString(), nullptr,
                                                    QFileDialog::DontConfirmOverwrite);
  if (path.isEmpty()) return;
  ConfigFileError error;
  if (!writeConfigFile(path, image, &error)) errorBox(this, error.what, error.reason);
}

#endif
