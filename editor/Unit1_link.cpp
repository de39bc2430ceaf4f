// Main window: the port picker, the exchange menu and the two read buttons. The protocol itself
// is the link's; the window forwards to it and shows what it reports.
#include <QAbstractButton>
#include <QComboBox>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <system_error>

#include "app/Unit5.h"
#include "editor/MessageBoxes.h"
#include "editor/Unit1.h"
#include "link/ComPort.h"
#include "link/Link.h"
#include "link/LinkClock.h"
#include "link/PortNames.h"
#include "state/Unit6.h"

namespace {
const QString kNoPorts = QStringLiteral("НЕТ!");
const QString kSearching = QStringLiteral("Идет поиск");
const QString kOpenError = QStringLiteral("Ошибка открытия порта");
const QString kPortLost = QStringLiteral("Связь с портом потеряна");

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

void setReadButtonsEnabled(TQuorlan *w, bool on) {
  w->N5->menuAction()->setEnabled(on);
  w->Button3->setEnabled(on);
  w->Button1->setEnabled(on);
}
}  // namespace

int TQuorlan::PortOpen() const { return link_->portOpen() ? 1 : 0; }
::LinkMode TQuorlan::LinkMode() const { return link_->mode(); }
std::int32_t TQuorlan::ReplyCounter() const { return link_->replyCounter(); }
::WatchdogReason TQuorlan::WatchdogReason() const { return link_->watchdogReason(); }

void TQuorlan::connectLink() {
  ApdComPort1 = link_->port();
  ApdDataPacket1 = &link_->lineMatcher();
  ApdDataPacket2 = &link_->byteMatcher();
  TLink *l = link_;

  connect(l, &TLink::lineShown, this, [this](const QString &line) { Label41->setText(line); });
  connect(l, &TLink::connected, this, [this](const QString &version) {
    Label39->setText(QStringLiteral("Соединение установленно"));
    Label40->setText(QStringLiteral("версия FLASH ") + version);
    setReadButtonsEnabled(this, true);
  });

  // Image transfer.
  connect(l, &TLink::writeEchoed, this, [] {
    Progress->setText(QStringLiteral("Сохранение"));
    Progress->repaintNow();
  });
  connect(l, &TLink::readEchoed, this, [] {
    if (!Progress->isShown()) {
      Progress->showWindow();
      Progress->setText(QStringLiteral("Считывание"));
      Progress->repaintNow();
    }
  });
  connect(l, &TLink::transferProgress, this, [](int position) {
    // A repaint costs about a tenth of a byte's time on the line: only when the bar moves.
    const int before = Progress->position();
    Progress->setPosition(position);
    if (Progress->position() != before) Progress->repaintNow();
  });
  connect(l, &TLink::writeBytesSent, this, [this] { endExchangeUi(); });
  connect(l, &TLink::writeRefused, this, [this] { endExchangeUi(); });
  connect(l, &TLink::imageReceived, this, [this] {
    endExchangeUi();
    Load();
  });
  // A confirmation before the echo finds the window still disabled by the image build.
  connect(l, &TLink::saveConfirmed, this, [this] { endExchangeUi(); });
  connect(l, &TLink::saveFailed, this, [this] {
    endExchangeUi();
    showLinkError(QStringLiteral("Ошибка CRC"));
  });

  // Clock, key and identifiers.
  connect(l, &TLink::dateReported, this, [this](const QString &date, const QString &time) {
    plainBox(this, QStringLiteral("Дата: ") + date + QStringLiteral("\r\n") +
                       QStringLiteral("Время: ") + time);
  });
  connect(l, &TLink::masterKeyRead, this, [this](const QString &key) { Edit12->setText(key); });
  connect(l, &TLink::sensorIdRead, this, [this](int n, const QString &id) {
    if (QLineEdit *e = Edit(12 + n)) e->setText(id);
  });

  connect(l, &TLink::watchdogExpired, this, [this](::WatchdogReason reason) {
    switch (reason) {
      case ::WatchdogReason::NoReply:
        endExchangeUi();
        showLinkError(QStringLiteral("Контроллер не ответил"));
        break;
      case ::WatchdogReason::TransferStalled:
        endExchangeUi();
        showLinkError(QStringLiteral("Ошибка передачи"));
        break;
      case ::WatchdogReason::SaveUnconfirmed:
        endExchangeUi();
        showLinkError(QStringLiteral("Ошибка сохранения"));
        break;
      default:
        break;   // the state window's
    }
  });
  connect(l, &TLink::exchangeFailed, this, [this](const QString &detail) {
    endExchangeUi();
    showLinkError(QStringLiteral("Ошибка передачи"), detail);
  });
  connect(l, &TLink::portLost, this, [this](const QString &reason) {
    endExchangeUi();
    setReadButtonsEnabled(this, false);
    Label39->setText(kPortLost);
    showLinkError(kPortLost, reason);
  });
}

void TQuorlan::endExchangeUi() {
  Progress->closeWindow();
  setEnabled(true);
  show();
  repaint();
}

void TQuorlan::showLinkError(const QString &text, const QString &detail) {
  errorBox(this, text, detail);
}

void TQuorlan::portScan() {
  Label39->setText(kSearching);
  Label40->clear();
  N5->menuAction()->setEnabled(false);
  // These lines show what the controller sent; it must never be taken as markup.
  for (QLabel *l : {Label39, Label40, Label41}) l->setTextFormat(Qt::PlainText);

  if (!ApdComPort1) {
    connectLink();
    // Every pick, even of the item already shown, and every typed or deleted character.
    connect(ComboBox1, &QComboBox::activated, this, &TQuorlan::ComboBox1Change);
    if (QLineEdit *edit = ComboBox1->lineEdit()) {
      connect(edit, &QLineEdit::textEdited, this, &TQuorlan::ComboBox1Change);
      edit->installEventFilter(new SwallowEnter(edit));
    }
    connect(static_cast<QAbstractButton *>(Button1), &QAbstractButton::clicked, this,
            &TQuorlan::Button1Click);
    connect(static_cast<QAbstractButton *>(Button3), &QAbstractButton::clicked, this,
            &TQuorlan::Button3Click);
  }

  ComboBox1->clear();
  const QList<TPortEntry> ports = portsAhead_.valid() ? portsAhead_.get() : link_->listPorts();
  for (const TPortEntry &p : ports) {
    ComboBox1->addItem(p.name, p.device);
    ComboBox1->setItemData(ComboBox1->count() - 1, PortNames::tooltipFor(p), Qt::ToolTipRole);
  }
  if (ports.isEmpty()) {
    ComboBox1->setCurrentIndex(-1);
    ComboBox1->setEditText(kNoPorts);
  } else {
    ComboBox1->setCurrentIndex(0);
    ComboBox1->setEditText(ComboBox1->itemText(0));
  }
  openPicked(&ports);

  link_->setMode(::LinkMode::NO_PC);
  ApdDataPacket1->setArmed(true);
  ApdDataPacket1->setAutoRearm(true);
}

void TQuorlan::scanPortsAhead() {
  try {
    portsAhead_ = std::async(std::launch::async, link_->listPorts);
  } catch (const std::system_error &) {
    // No thread to be had: portScan() scans in its own time.
  }
}

void TQuorlan::ComboBox1Change() { openPicked(nullptr); }

void TQuorlan::openPicked(const QList<TPortEntry> *scanned) {
  Label39->clear();
  Label40->clear();
  const QString text = ComboBox1->currentText();
  if (text == kNoPorts) {
    Label39->setText(QStringLiteral("Нет свободных портов в системе"));
    return;
  }
  Label39->setText(kSearching);

  QString reason;
  int number = 0;
  bool opened = false;
  if (!PortNames::portNumberFromText(text, &number)) {
    if (link_->portOpen()) link_->closePort();
    reason = QStringLiteral("«%1» не содержит номера порта").arg(text);
  } else {
    opened = scanned ? link_->openPort(number, *scanned, &reason) : link_->openPort(number, &reason);
  }
  if (!opened) {
    // State first: the box runs a nested event loop and the link must look closed meanwhile.
    Label39->setText(kOpenError);
    setReadButtonsEnabled(this, false);
    ComboBox1->setToolTip(QString());
    errorBox(this, kOpenError, reason);
    return;
  }
  ComboBox1->setToolTip(ApdComPort1->device());
  Label39->setText(kSearching);
  setReadButtonsEnabled(this, false);
}

void TQuorlan::FormClose() { link_->sayGoodbye(); }

void TQuorlan::ApdDataPacket1StringPacket(const QByteArray &data) {
  link_->ApdDataPacket1StringPacket(data);
}

void TQuorlan::ApdDataPacket2Packet(const std::uint8_t *data, int size) {
  link_->ApdDataPacket2Packet(data, size);
}

void TQuorlan::Timer2Timer() { link_->Timer2Timer(); }
void TQuorlan::Timer3Timer() { link_->Timer3Timer(); }

// ---- the exchange menu and buttons ----

void TQuorlan::N6Click() {
  if (!mass_out()) return;   // a refused threshold: nothing is sent
  link_->startWrite();
}

void TQuorlan::N7Click() {
  setEnabled(false);
  link_->startRead();
}

void TQuorlan::N8Click() { link_->setControllerClock(); }

void TQuorlan::N9Click() {
  if (Form6) Form6->N9Click();
}

void TQuorlan::Button1Click() { link_->readMasterKey(); }
void TQuorlan::Button3Click() { link_->readSensorIds(); }
