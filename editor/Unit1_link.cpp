// Main window: the port picker, the exchange menu and the two read buttons. The protocol itself
// is the link's; the window forwards to it and shows what it reports.
#include <QAbstractButton>
#include <QComboBox>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>

#include "editor/Unit1.h"
#include "link/ComPort.h"
#include "link/Link.h"
#include "link/LinkClock.h"
#include "link/PortNames.h"
#include "widgets/MessageBoxes.h"
#include "widgets/Unit5.h"

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

void TQuorlan::connectLink() {
  TLink *l = link_;

  connect(l, &TLink::lineShown, this, [this](const QString &line) { Label41->setText(line); });
  connect(l, &TLink::connected, this, [this](const QString &version) {
    Label39->setText(QStringLiteral("Соединение установленно"));
    Label40->setText(QStringLiteral("версия FLASH ") + version);
    setReadButtonsEnabled(this, true);
  });

  // Image transfer.
  connect(l, &TLink::writeEchoed, this, [this] {
    progress_->setText(QStringLiteral("Сохранение"));
    progress_->repaintNow();
  });
  connect(l, &TLink::readEchoed, this, [this] {
    if (!progress_->isShown()) {
      progress_->showWindow();
      progress_->setText(QStringLiteral("Считывание"));
      progress_->repaintNow();
    }
  });
  connect(l, &TLink::transferProgress, this, [this](int position) {
    // A repaint costs about a tenth of a byte's time on the line: only when the bar moves.
    const int before = progress_->position();
    progress_->setPosition(position);
    if (progress_->position() != before) progress_->repaintNow();
  });
  // The window is disabled exactly while a transfer runs: from the command until its outcome.
  // Every ending, regular or not, gives it back here, before any message about it.
  connect(l, &TLink::transferActiveChanged, this, [this](bool active) {
    if (active)
      setEnabled(false);
    else
      endExchangeUi();
  });
  // The bar is full; the controller's verdict on the image is still to come.
  connect(l, &TLink::writeBytesSent, this, [] { Progress->closeWindow(); });
  connect(l, &TLink::imageReceived, this, [this](const ConfigImageBytes &image) {
    IncomingImage = image;
    Load();
  });
  connect(l, &TLink::saveFailed, this, [this] { showLinkError(QStringLiteral("Ошибка CRC")); });
  connect(l, &TLink::writeIncomplete, this,
          [this] { showLinkError(QStringLiteral("Конфигурация записана не полностью")); });
  connect(l, &TLink::readIncomplete, this,
          [this] { showLinkError(QStringLiteral("Конфигурация считана не полностью")); });

  // Clock, key and identifiers.
  connect(l, &TLink::dateReported, this, [this](const QString &date, const QString &time) {
    plainBox(this, QStringLiteral("Дата: ") + date + QStringLiteral("\r\n") +
                       QStringLiteral("Время: ") + time);
  });
  connect(l, &TLink::masterKeyRead, this, [this](const QString &key) { Edit12->setText(key); });
  connect(l, &TLink::sensorIdRead, this, [this](int n, const QString &id) {
    if (QLineEdit *e = Edit(12 + n)) e->setText(id);
  });

  // A refused write is reported after the window was given back, perhaps during the next
  // transfer: the report never touches the window's state.
  connect(l, &TLink::watchdogExpired, this, [this](::WatchdogReason reason) {
    switch (reason) {
      case ::WatchdogReason::NoReply:
        showLinkError(QStringLiteral("Контроллер не ответил"));
        break;
      case ::WatchdogReason::TransferStalled:
        showLinkError(QStringLiteral("Ошибка передачи"));
        break;
      case ::WatchdogReason::SaveUnconfirmed:
        showLinkError(QStringLiteral("Ошибка сохранения"));
        break;
      default:
        break;   // the state window's
    }
  });
  connect(l, &TLink::exchangeFailed, this, [this](const QString &detail) {
    showLinkError(QStringLiteral("Ошибка передачи"), detail);
  });
  connect(l, &TLink::portLost, this, [this](const QString &reason) {
    setReadButtonsEnabled(this, false);
    Label39->setText(kPortLost);
    showLinkError(kPortLost, reason);
  });
}

void TQuorlan::endExchangeUi() {
  progress_->closeWindow();
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

  if (!linkConnected_) {
    linkConnected_ = true;
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
  const QList<TPortEntry> ports = link_->ports();
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

  link_->listen();
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
  ComboBox1->setToolTip(link_->portDevice());
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
  link_->startWrite(OutgoingImage);
  if (!link_->transferActive()) endExchangeUi();   // it did not start, or ended at once
}

void TQuorlan::N7Click() {
  setEnabled(false);
  link_->startRead();
  if (!link_->transferActive()) endExchangeUi();
}

void TQuorlan::N8Click() { link_->setControllerClock(); }

void TQuorlan::N9Click() { emit stateWindowRequested(); }

void TQuorlan::Button1Click() { link_->readMasterKey(); }
void TQuorlan::Button3Click() { link_->readSensorIds(); }
