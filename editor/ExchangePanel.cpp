#include "editor/ExchangePanel.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTextDocument>
#include <QTimer>

#include "link/Link.h"
#include "link/LinkClock.h"
#include "link/PortNames.h"
#include "widgets/MessageBoxes.h"
#include "widgets/PortPicker.h"
#include "widgets/Unit5.h"

namespace {
const QString kNoPorts = QStringLiteral("НЕТ!");
const QString kSearching = QStringLiteral("Идет поиск");
const QString kOpenError = QStringLiteral("Ошибка открытия порта");
constexpr int kReturnPollMs = 1000;

// A tooltip that looks like markup is shown as rich text; what a device says about itself is
// shown as it is.
QString plainTip(const QString &text) {
  if (!Qt::mightBeRichText(text)) return text;
  return QStringLiteral("<qt>") + text.toHtmlEscaped().replace(QLatin1Char('\n'), QStringLiteral("<br>")) +
         QStringLiteral("</qt>");
}

// Enter in the picker's field would re-emit `activated` for a matching item and reopen the
// port although the text did not change; the key does nothing there.
class SwallowEnter : public QObject {
public:
  using QObject::QObject;
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (event->type() == QEvent::KeyPress) {
      const int key = static_cast<QKeyEvent *>(event)->key();
      if (key == Qt::Key_Return || key == Qt::Key_Enter) return true;
    }
    return QObject::eventFilter(watched, event);
  }
};
}  // namespace

TExchangePanel::TExchangePanel(QWidget *window, TLink *link, std::function<TProgress *()> progress,
                               const Controls &controls)
    : QObject(window), window_(window), link_(link), progress_(std::move(progress)), c_(controls),
      returnPoll_(link->newTimer(this)) {
  returnPoll_->setInterval(kReturnPollMs);
  connect(returnPoll_, &TLinkTimer::timeout, this, &TExchangePanel::lookForReturn);
  if (auto *picker = qobject_cast<TPortPicker *>(c_.picker))
    connect(picker, &TPortPicker::popupAboutToShow, this, &TExchangePanel::relist);
  // These lines show what the controller sent; it must never be taken as markup.
  for (QLabel *l : {c_.status, c_.version, c_.received}) l->setTextFormat(Qt::PlainText);
  if (QLineEdit *edit = c_.picker->lineEdit()) edit->installEventFilter(new SwallowEnter(edit));
  connectLink();
}

void TExchangePanel::setCommandsEnabled(bool on) {
  c_.menu->setEnabled(on);
  c_.idButton->setEnabled(on);
  c_.keyButton->setEnabled(on);
}

void TExchangePanel::connectLink() {
  TLink *l = link_;

  connect(l, &TLink::lineShown, this, [this](const QString &line) { c_.received->setText(line); });
  connect(l, &TLink::connected, this, [this](const QString &version) {
    c_.status->setText(QStringLiteral("Соединение установленно"));
    c_.version->setText(QStringLiteral("версия FLASH ") + version);
    setCommandsEnabled(true);
  });
  // Image transfer.
  connect(l, &TLink::writeEchoed, this, [this] {
    progress()->setText(QStringLiteral("Сохранение"));
    progress()->repaintNow();
  });
  connect(l, &TLink::readEchoed, this, [this] {
    if (!progress()->isShown()) {
      progress()->showWindow();
      progress()->setText(QStringLiteral("Считывание"));
      progress()->repaintNow();
    }
  });
  connect(l, &TLink::transferProgress, this, [this](int position) {
    // A repaint costs about a tenth of a byte's time on the line: only the bar, only when it
    // moves, and once (the bar repaints some steps by itself).
    progress()->setPosition(position);
    progress()->repaintBar();
  });
  // The window is disabled exactly while a transfer runs: from the command until its outcome.
  // Every ending, regular or not, gives it back here, before any message about it.
  connect(l, &TLink::transferActiveChanged, this, [this](bool active) {
    if (active)
      window_->setEnabled(false);
    else
      giveBack();
  });
  // The bar is full; the controller's verdict on the image is still to come.
  connect(l, &TLink::writeBytesSent, this, [this] { progress()->closeWindow(); });
  connect(l, &TLink::imageReceived, this, &TExchangePanel::imageRead);
  connect(l, &TLink::saveFailed, this, [this] { error(outcomeText(ExchangeOutcome::SaveFailed)); });
  connect(l, &TLink::writeIncomplete, this, [this] { error(outcomeText(ExchangeOutcome::WriteIncomplete)); });
  connect(l, &TLink::readIncomplete, this, [this] { error(outcomeText(ExchangeOutcome::ReadIncomplete)); });

  // Clock, key and identifiers.
  connect(l, &TLink::dateReported, this, [this](const QString &date, const QString &time) {
    plainBox(window_, QStringLiteral("Дата: ") + date + QStringLiteral("\r\n") +
                       QStringLiteral("Время: ") + time);
  });
  connect(l, &TLink::masterKeyRead, this, [this](const QString &key) { c_.key->setText(key); });
  connect(l, &TLink::sensorIdRead, this, [this](int n, const QString &id) {
    if (n >= 1 && n <= 8) c_.ids[std::size_t(n - 1)]->setText(id);
  });

  // A refused write is reported after the window was given back, perhaps during the next
  // transfer: the report never touches the window's state.
  connect(l, &TLink::watchdogExpired, this, [this](::WatchdogReason reason) {
    switch (reason) {
      case ::WatchdogReason::NoReply:
      case ::WatchdogReason::TransferStalled:
      case ::WatchdogReason::SaveUnconfirmed:
        error(outcomeText(reason));
        break;
      default:
        break;   // the state window's
    }
  });
  connect(l, &TLink::exchangeFailed, this, [this](const QString &detail) {
    error(outcomeText(ExchangeOutcome::TransferStalled), detail);
  });
  connect(l, &TLink::portLost, this, &TExchangePanel::onPortLost);
}

void TExchangePanel::onPortLost(const QString &reason) {
  setCommandsEnabled(false);
  const QString lost = outcomeText(ExchangeOutcome::PortLost);
  c_.status->setText(lost);
  // The wait starts before the box: it runs while the box is up, and the device may be back
  // before the operator has read it.
  if (!opened_.device.isEmpty()) {
    returnPoll_->start();
    say(QStringLiteral("Порт %1 отключен, ожидание его возвращения").arg(opened_.name));
  }
  error(lost, reason);
}

void TExchangePanel::stopWaiting() { returnPoll_->stop(); }

void TExchangePanel::say(const QString &text) {
  if (c_.statusLine) c_.statusLine->showMessage(text);
}

void TExchangePanel::lookForReturn() {
  if (link_->portOpen()) {   // opened meanwhile by other means
    stopWaiting();
    return;
  }
  // Received data held by a handler that has not returned (a message box) is delivered when
  // it returns; a port opened under it would take that data for its own.
  if (!link_->stateRequestsAllowed()) return;
  const QList<TPortEntry> ports = link_->ports();
  const qsizetype at = PortNames::findReturned(opened_, ports);
  if (at < 0) return;
  const TPortEntry back = ports.at(at);
  QString reason;
  if (!link_->openPort(back.number, ports, &reason)) {
    // Rights are often given a moment after the device appears: the next tick tries again.
    say(QStringLiteral("Порт %1 отключен, ожидание его возвращения: %2")
            .arg(opened_.name, reason.section(QLatin1Char('\n'), 0, 0)));
    return;
  }
  stopWaiting();
  const QString was = opened_.name;
  opened_ = link_->portEntry();
  refillShowing(ports, back.name);
  c_.picker->setToolTip(plainTip(PortNames::tooltipFor(opened_)));
  c_.status->setText(kSearching);
  c_.version->clear();
  setCommandsEnabled(false);
  // The controller's next announcement runs the handshake as at start-up.
  link_->listen();
  say(back.name == was ? QStringLiteral("Порт %1 снова открыт").arg(back.name)
                       : QStringLiteral("Порт %1 снова открыт как %2").arg(was, back.name));
}

void TExchangePanel::giveBack() {
  progress()->closeWindow();
  window_->setEnabled(true);
  window_->show();
  window_->repaint();
}

void TExchangePanel::error(const QString &text, const QString &detail) { errorBox(window_, text, detail); }

void TExchangePanel::scan() {
  c_.status->setText(kSearching);
  c_.version->clear();
  c_.menu->setEnabled(false);
  stopWaiting();
  QComboBox *picker = c_.picker;
  const QList<TPortEntry> ports = link_->ports();
  fillPicker(ports);
  if (ports.isEmpty()) {
    picker->setCurrentIndex(-1);
    picker->setEditText(kNoPorts);
  } else {
    picker->setCurrentIndex(0);
    picker->setEditText(picker->itemText(0));
  }
  open(&ports);
  link_->listen();
}

void TExchangePanel::fillPicker(const QList<TPortEntry> &ports) {
  QComboBox *picker = c_.picker;
  picker->clear();
  for (const TPortEntry &p : ports) {
    picker->addItem(p.name, p.device);
    picker->setItemData(picker->count() - 1, plainTip(PortNames::tooltipFor(p)), Qt::ToolTipRole);
  }
}

void TExchangePanel::refillShowing(const QList<TPortEntry> &ports, const QString &text) {
  const QSignalBlocker quiet(c_.picker);
  fillPicker(ports);
  c_.picker->setCurrentIndex(c_.picker->findText(text));
  c_.picker->setEditText(text);
}

void TExchangePanel::relist() { refillShowing(link_->ports(), c_.picker->currentText()); }

// The operator's choice ends any wait for a lost port.
void TExchangePanel::pick() {
  stopWaiting();
  if (c_.statusLine) c_.statusLine->clearMessage();
  open(nullptr);
}

// With `scanned`, the list scan() has just made rather than a second scan of the system.
void TExchangePanel::open(const QList<TPortEntry> *scanned) {
  c_.status->clear();
  c_.version->clear();
  const QString text = c_.picker->currentText();
  if (text == kNoPorts) {
    c_.status->setText(QStringLiteral("Нет свободных портов в системе"));
    return;
  }
  c_.status->setText(kSearching);

  QString reason;
  int number = 0;
  bool opened = false;
  opened_ = {};
  if (!PortNames::portNumberFromText(text, &number)) {
    if (link_->portOpen()) link_->closePort();
    reason = QStringLiteral("«%1» не содержит номера порта").arg(text);
  } else {
    opened = scanned ? link_->openPort(number, *scanned, &reason) : link_->openPort(number, &reason);
  }
  if (!opened) {
    // State first: the box runs a nested event loop and the link must look closed meanwhile.
    c_.status->setText(kOpenError);
    setCommandsEnabled(false);
    c_.picker->setToolTip(QString());
    errorBox(window_, kOpenError, reason);
    return;
  }
  opened_ = link_->portEntry();
  c_.picker->setToolTip(plainTip(PortNames::tooltipFor(opened_)));
  c_.status->setText(kSearching);
  setCommandsEnabled(false);
}

void TExchangePanel::goodbye() {
  stopWaiting();
  link_->sayGoodbye();
}

void TExchangePanel::write(const ConfigImageBytes &image) {
  if (!link_->startWrite(image) || !link_->transferActive()) giveBack();   // refused, or ended at once
}

void TExchangePanel::read() {
  window_->setEnabled(false);
  if (!link_->startRead() || !link_->transferActive()) giveBack();
}

void TExchangePanel::setClock() { link_->setControllerClock(); }
void TExchangePanel::readKey() { link_->readMasterKey(); }
void TExchangePanel::readIds() { link_->readSensorIds(); }
