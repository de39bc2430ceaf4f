// Main window: the serial port, the port picker and the framer re-arm tick.
#include <QComboBox>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>

#include "editor/MessageBoxes.h"
#include "editor/Unit1.h"
#include "image/Cp1251.h"
#include "link/ComPort.h"
#include "link/PortNames.h"

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

void TQuorlan::portScan() {
  Label39->setText(kSearching);
  Label40->clear();
  N5->menuAction()->setEnabled(false);
  PortOpen = 0;
  // These lines show what the controller sent; it must never be taken as markup.
  for (QLabel *l : {Label39, Label40, Label41}) l->setTextFormat(Qt::PlainText);

  if (!ApdComPort1) {
    ApdComPort1 = new TComPort(this);
    ApdComPort1->setObjectName(QStringLiteral("ApdComPort1"));
    ApdDataPacket1 = &ApdComPort1->framers.line;
    ApdDataPacket2 = &ApdComPort1->framers.byte;
    ApdComPort1->framers.onLine = [this](const QByteArray &line) {
      ApdDataPacket1StringPacket(line);
    };
    ApdComPort1->framers.onByte = [this](const std::uint8_t *data, int size) {
      ApdDataPacket2Packet(data, size);
    };
    connect(ApdComPort1, &TComPort::portLost, this, &TQuorlan::ApdComPort1Lost);
    // Every pick, even of the item already shown, and every typed or deleted character.
    connect(ComboBox1, &QComboBox::activated, this, &TQuorlan::ComboBox1Change);
    if (QLineEdit *edit = ComboBox1->lineEdit()) {
      connect(edit, &QLineEdit::textEdited, this, &TQuorlan::ComboBox1Change);
      edit->installEventFilter(new SwallowEnter(edit));
    }
    connect(Timer2, &QTimer::timeout, this, &TQuorlan::Timer2Timer);
  }

  ComboBox1->clear();
  const QList<TPortEntry> ports = PortNames::systemPorts();
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
  ComboBox1Change();

  LinkMode = QStringLiteral("NO_PC");
  ApdDataPacket1->setArmed(true);
  ApdDataPacket1->setAutoRearm(true);
}

void TQuorlan::ComboBox1Change() {
  Label39->clear();
  Label40->clear();
  const QString text = ComboBox1->currentText();
  if (text == kNoPorts) {
    Label39->setText(QStringLiteral("Нет свободных портов в системе"));
    return;
  }
  Label39->setText(kSearching);
  if (PortOpen != 0) ApdComPort1->close();

  QString reason;
  int number = 0;
  bool opened = false;
  if (!PortNames::portNumberFromText(text, &number)) {
    reason = QStringLiteral("«%1» не содержит номера порта").arg(text);
  } else {
    opened = ApdComPort1->open(number, &reason);
  }
  if (!opened) {
    // State first: the box runs a nested event loop and the link must look closed meanwhile.
    Label39->setText(kOpenError);
    setReadButtonsEnabled(this, false);
    PortOpen = 0;
    ComboBox1->setToolTip(QString());
    errorBox(this, kOpenError, reason);
    return;
  }
  PortOpen = 1;
  ComboBox1->setToolTip(ApdComPort1->device());
  ApdComPort1->sendText("BYE\r\n");
  Label39->setText(kSearching);
  setReadButtonsEnabled(this, false);
  LinkMode = QStringLiteral("NO_PC");
}

void TQuorlan::FormClose() {
  if (!ApdComPort1) return;
  ApdComPort1->sendText("BYE\r\n");   // skipped when no port is open
  if (PortOpen == 1) ApdComPort1->close();
}

void TQuorlan::ApdDataPacket1StringPacket(const QByteArray &data) {
  Label41->setText(fromCp1251(data));
}

void TQuorlan::ApdDataPacket2Packet(const std::uint8_t *data, int size) {
  Q_UNUSED(data);
  Q_UNUSED(size);
}

void TQuorlan::Timer2Timer() {
  if (!ApdComPort1) return;
  ApdComPort1->framers.checkTimeouts();
  if ((LinkMode == QLatin1String("NO_PC") || LinkMode == QLatin1String("PC")) &&
      !ApdDataPacket1->armed()) {
    ApdDataPacket1->setArmed(true);
    ApdDataPacket1->setAutoRearm(true);
  }
  if (LinkMode == QLatin1String("SAVE") && !ApdDataPacket2->armed()) {
    ApdDataPacket2->setArmed(true);
    ApdDataPacket2->setAutoRearm(true);
  }
}

void TQuorlan::ApdComPort1Lost(const QString &reason) {
  ApdComPort1->close();
  PortOpen = 0;
  setReadButtonsEnabled(this, false);
  Label39->setText(kPortLost);
  errorBox(this, kPortLost, reason);
}
