#include "state/Unit6.h"

#include <QGuiApplication>
#include <QScreen>

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <cmath>

#include "widgets/EditorWidgets.h"
#include "widgets/MessageBoxes.h"
#include "link/Link.h"
#include "link/StateReplies.h"

TForm6 *Form6 = nullptr;

namespace {
constexpr QSize kClientSize(757, 541);

const QString kSend = QStringLiteral("Отправить команду");
const QString kSetup = QStringLiteral("Установить настройки");
const QString kRefresh = QStringLiteral("Обновить");
const QString kRead = QStringLiteral("Считать настройки");
const QString kOk = QStringLiteral("OK");
const QString kRequestPrefix = QStringLiteral("ЗАПРОС: ");
const QString kReplyPrefix = QStringLiteral("ОТВЕТ: ");

// A button caption takes '&' for a mnemonic; the controller's text must show as it came.
QString plainCaption(QString text) { return text.replace(QLatin1Char('&'), QStringLiteral("&&")); }

void showText(QLineEdit *edit, const QString &text) {
  edit->setText(text);
  edit->setCursorPosition(0);   // a value longer than the field shows its start
}

// Two circular arrows chasing each other.
QIcon refreshGlyph() {
  QPixmap pm(16, 16);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor green(0x1e, 0x8c, 0x32);
  const QPointF c(8, 8);
  const double r = 5.5;
  p.setPen(QPen(green, 1.8, Qt::SolidLine, Qt::FlatCap));
  p.setBrush(Qt::NoBrush);
  for (int start : {100, 280}) p.drawArc(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), start * 16, 130 * 16);
  p.setPen(Qt::NoPen);
  p.setBrush(green);
  for (int end : {230, 50}) {
    const double a = end * M_PI / 180;
    const QPointF at = c + QPointF(std::cos(a), -std::sin(a)) * r;
    const QPointF ahead(-std::sin(a), -std::cos(a));   // counter-clockwise on screen
    const QPointF out(std::cos(a), -std::sin(a));
    p.drawPolygon(QPolygonF{at + ahead * 3.5, at + out * 3.2, at - out * 3.2});
  }
  return QIcon(pm);
}

QIcon stopGlyph() {
  QPixmap pm(16, 16);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(0x8c, 0x14, 0x14), 1));
  p.setBrush(QColor(0xd8, 0x2a, 0x2a));
  p.drawRoundedRect(QRectF(3.5, 3.5, 9, 9), 1.5, 1.5);
  return QIcon(pm);
}

QGroupBox *group(const QString &name, const QString &title, QWidget *parent) {
  auto *g = new QGroupBox(title, parent);
  g->setObjectName(name);
  return g;
}

QLabel *label(int number, const QString &text, QWidget *parent) {
  auto *l = new QLabel(text, parent);
  l->setObjectName(QStringLiteral("Label%1").arg(number));
  return l;
}

template <class Layout>
Layout *tight(Layout *layout, int spacing = 4) {
  layout->setContentsMargins(8, 4, 8, 6);
  layout->setSpacing(spacing);
  return layout;
}
}  // namespace

TForm6::TForm6(TLink *link, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      link_(link) {
  setObjectName(QStringLiteral("Form6"));
  setWindowTitle(QStringLiteral("Текущее состояние и управление"));
  setAttribute(Qt::WA_QuitOnClose, false);
  setFixedSize(kClientSize);
  QFont small = font();   // 8 points, as in the main window: the client area is sized for it
  small.setPointSize(8);
  setFont(small);
  buildControls();
  connectLink();
  if (link_->transferActive()) transferChanged(true);
}

QLineEdit *TForm6::Edit(int n) const {
  return n >= 1 && n <= int(edits_.size()) ? edits_[std::size_t(n - 1)] : nullptr;
}

void TForm6::buildControls() {
  int labels = 0;
  auto *columns = new QHBoxLayout(this);
  columns->setContentsMargins(8, 8, 8, 8);
  columns->setSpacing(8);

  auto makeCheck = [this](int n, const QString &text, QWidget *parent) {
    auto *box = new QCheckBox(text, parent);
    box->setObjectName(QStringLiteral("CheckBox%1").arg(n));
    checkBoxes_[std::size_t(n - 1)] = box;
    return box;
  };
  auto makeEdit = [this](int n, QWidget *parent) {
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(QStringLiteral("Edit%1").arg(n));
    edits_[std::size_t(n - 1)] = edit;
    return edit;
  };
  auto makeButton = [](const QString &name, const QString &text, QWidget *parent) {
    auto *b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    b->setMinimumHeight(24);   // as tall as those with a picture
    return b;
  };
  // A holder of controls that a transfer disables; it adds nothing to the look.
  auto makeGate = [this](QWidget *parent, QBoxLayout::Direction direction) {
    auto *gate = new QWidget(parent);
    gate->setObjectName(QStringLiteral("TransferGate%1").arg(transferGates_.size() + 1));
    auto *lay = new QBoxLayout(direction, gate);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->setSpacing(6);
    transferGates_.append(gate);
    return std::pair{gate, lay};
  };

  // ---- left column: the controller's state ----
  auto *state = group(QStringLiteral("GroupBox1"), QStringLiteral("Текущее состояние"), this);
  auto *stateLay = tight(new QVBoxLayout(state), 6);
  state->setFixedWidth(344);
  columns->addWidget(state);

  auto *inputs = group(QStringLiteral("GroupBox2"), QStringLiteral("Контактные входы"), state);
  auto *inputsLay = tight(new QHBoxLayout(inputs));
  for (int n = 1; n <= 8; ++n) {
    QCheckBox *box = makeCheck(n, QString::number(n), inputs);
    // It shows an input; a click must not change what the controller reported.
    box->setAttribute(Qt::WA_TransparentForMouseEvents);
    box->setFocusPolicy(Qt::NoFocus);
    inputsLay->addWidget(box);
  }
  stateLay->addWidget(inputs);
  stateLay->addStretch(1);

  // Two rows of four fields, each under its caption.
  auto fieldGrid = [&](const QString &name, const QString &title, const QString &caption, int first) {
    auto *g = group(name, title, state);
    auto *grid = tight(new QGridLayout(g), 2);
    grid->setHorizontalSpacing(8);
    for (int i = 0; i < 8; ++i) {
      const int row = (i / 4) * 2, col = i % 4;
      grid->addWidget(label(++labels, caption.arg(i + 1), g), row, col);
      QLineEdit *edit = makeEdit(first + i, g);
      edit->setReadOnly(true);
      grid->addWidget(edit, row + 1, col);
    }
    grid->setRowMinimumHeight(2, 24);   // air between the two rows
    grid->setAlignment(Qt::AlignBottom);
    stateLay->addWidget(g);
    stateLay->addStretch(1);
  };
  fieldGrid(QStringLiteral("GroupBox3"), QStringLiteral("Аналоговые входы (значение в мА/В)"),
            QStringLiteral("АЦП %1"), 1);
  fieldGrid(QStringLiteral("GroupBox4"), QStringLiteral("Параметрические датчики"),
            QStringLiteral("Датчик %1"), 9);

  auto *clock = group(QStringLiteral("GroupBox6"), QStringLiteral("Системное время контроллера"), state);
  auto *clockLay = tight(new QHBoxLayout(clock), 6);
  clockLay->addWidget(label(++labels, QStringLiteral("Дата:"), clock));
  clockLay->addWidget(makeEdit(19, clock), 1);
  clockLay->addSpacing(12);
  clockLay->addWidget(label(++labels, QStringLiteral("Время:"), clock));
  clockLay->addWidget(makeEdit(20, clock), 1);
  Edit(19)->setReadOnly(true);
  Edit(20)->setReadOnly(true);
  stateLay->addWidget(clock);
  stateLay->addStretch(1);

  auto *buttons = new QHBoxLayout;
  buttons->setSpacing(6);
  auto [pollGate, pollLay] = makeGate(state, QBoxLayout::LeftToRight);
  Button3 = makeButton(QStringLiteral("Button3"), kRefresh, pollGate);
  BitBtn1 = makeButton(QStringLiteral("BitBtn1"), QStringLiteral("Автообновление "), pollGate);
  BitBtn1->setIcon(refreshGlyph());
  pollLay->addWidget(Button3);
  pollLay->addWidget(BitBtn1);
  BitBtn2 = makeButton(QStringLiteral("BitBtn2"), QStringLiteral("Остановить"), state);
  BitBtn2->setIcon(stopGlyph());
  BitBtn2->setEnabled(false);
  buttons->addWidget(pollGate, 2);
  buttons->addWidget(BitBtn2, 1);
  stateLay->addLayout(buttons);

  // ---- right column: commands ----
  GroupBox5 = group(QStringLiteral("GroupBox5"), QStringLiteral("Управление"), this);
  auto *controlLay = tight(new QVBoxLayout(GroupBox5), 4);
  columns->addWidget(GroupBox5);

  auto [relayGate, relayLay] = makeGate(GroupBox5, QBoxLayout::TopToBottom);
  relayLay->setSpacing(2);
  auto *relays = group(QStringLiteral("GroupBox7"), QStringLiteral("Реле"), relayGate);
  auto *relaysLay = tight(new QHBoxLayout(relays));
  for (int n = 9; n <= 16; ++n) relaysLay->addWidget(makeCheck(n, QString::number(n - 8), relays));
  relayLay->addWidget(relays);
  relayLay->addWidget(makeCheck(17, QStringLiteral("Реле питания модема"), relayGate));
  controlLay->addWidget(relayGate);
  controlLay->addStretch(1);

  auto *exchange = group(QStringLiteral("GroupBox8"), QStringLiteral("Обмен по каналу RS-485"), GroupBox5);
  auto *exchangeLay = tight(new QVBoxLayout(exchange));
  exchangeLay->addWidget(label(++labels, QStringLiteral("Команда (HEX без пробелов)"), exchange));
  QLineEdit *command = makeEdit(17, exchange);
  command->setMaxLength(60);
  exchangeLay->addWidget(command);
  auto *sendRow = new QHBoxLayout;
  auto [sendGate, sendLay] = makeGate(exchange, QBoxLayout::LeftToRight);
  Button1 = makeButton(QStringLiteral("Button1"), kSend, sendGate);
  sendLay->addWidget(Button1);
  sendRow->addWidget(sendGate);
  sendRow->addSpacing(12);
  sendRow->addWidget(makeCheck(18, QStringLiteral("Добавлять CRC16"), exchange));
  sendRow->addStretch(1);
  exchangeLay->addLayout(sendRow);
  exchangeLay->addWidget(label(++labels, QStringLiteral("Ответ (HEX через пробел)"), exchange));
  Memo1 = new QPlainTextEdit(exchange);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setReadOnly(true);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  {
    const QMargins m = Memo1->contentsMargins();
    Memo1->setFixedHeight(4 * Memo1->fontMetrics().lineSpacing() +
                          int(2 * Memo1->document()->documentMargin()) + m.top() + m.bottom() + 2);
  }
  exchangeLay->addWidget(Memo1);
  controlLay->addWidget(exchange);
  controlLay->addStretch(1);

  auto *port = group(QStringLiteral("GroupBox9"), QStringLiteral("Настройки порта RS-485"), GroupBox5);
  auto *portLay = tight(new QVBoxLayout(port), 6);
  // Baud rate and data bits side by side, parity over stop bits: the four in a row would not fit.
  auto *radios = new QHBoxLayout;
  radios->setSpacing(6);
  auto *stacked = new QVBoxLayout;
  stacked->setSpacing(4);
  auto makeRadio = [&](int n, const QString &title, const QStringList &items, int start, QBoxLayout *into) {
    auto *g = new TRadioGroup(title, items, port);
    g->setObjectName(QStringLiteral("RadioGroup%1").arg(n));
    for (int i = 0; i < items.size(); ++i)
      g->item(i)->setObjectName(QStringLiteral("RadioGroup%1Item%2").arg(n).arg(i));
    g->layout()->setSpacing(2);
    g->setItemIndex(start);
    into->addWidget(g);
    return g;
  };
  RadioGroup1 = makeRadio(1, QStringLiteral("Baud rate"),
                          {"1200", "2400", "4800", "9600", "14400", "19200", "38400", "56000",
                           "57600", "115200"},
                          3, radios);
  {
    // Two columns, filled top to bottom.
    delete RadioGroup1->layout();
    auto *grid = new QGridLayout(RadioGroup1);
    grid->setContentsMargins(8, 4, 8, 4);
    grid->setVerticalSpacing(2);
    for (int i = 0; i < 10; ++i) grid->addWidget(RadioGroup1->item(i), i % 5, i / 5);
  }
  RadioGroup2 = makeRadio(2, QStringLiteral("Data bits"), {"5", "6", "7", "8"}, 3, radios);
  RadioGroup3 = makeRadio(3, QStringLiteral("Parity"), {"none", "odd", "even"}, 0, stacked);
  RadioGroup4 = makeRadio(4, QStringLiteral("Stop bits"), {"1", "2"}, 0, stacked);
  radios->addLayout(stacked);
  portLay->addLayout(radios);
  auto [settingsGate, settingsLay] = makeGate(port, QBoxLayout::LeftToRight);
  Button5 = makeButton(QStringLiteral("Button5"), kRead, settingsGate);
  Button2 = makeButton(QStringLiteral("Button2"), kSetup, settingsGate);
  settingsLay->addWidget(Button5);
  settingsLay->addWidget(Button2);
  portLay->addWidget(settingsGate);
  controlLay->addWidget(port);
  controlLay->addStretch(1);

  setLog(kRequestPrefix, kReplyPrefix);

  connect(Button1, &QPushButton::clicked, this, &TForm6::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TForm6::Button2Click);
  connect(Button3, &QPushButton::clicked, this, &TForm6::Button3Click);
  connect(Button5, &QPushButton::clicked, this, &TForm6::Button5Click);
  connect(BitBtn1, &QPushButton::clicked, this, &TForm6::BitBtn1Click);
  connect(BitBtn2, &QPushButton::clicked, this, &TForm6::BitBtn2Click);
  // Only the operator's clicks switch relays; setting a box from code sends nothing.
  for (int n = 9; n <= 17; ++n) connect(CheckBox(n), &QCheckBox::clicked, this, &TForm6::relayClick);
}

void TForm6::connectLink() {
  TLink *l = link_;
  connect(l, &TLink::statusLine, this, [this](int n, const QString &text) {
    if (n == 1) {
      const std::array<bool, 8> on = statusInputs(text);
      for (int i = 0; i < 8; ++i) CheckBox(i + 1)->setChecked(on[std::size_t(i)]);
    } else if (n <= 17) {
      showText(Edit(n - 1), text);   // lines 2..9: Edit1..Edit8, 10..17: Edit9..Edit16
    } else if (n <= kStatusLines) {
      showText(Edit(n + 1), text);   // date into Edit19, time into Edit20
    }
  });
  connect(l, &TLink::statusComplete, this, [this] { Button3->setText(kOk); });
  connect(l, &TLink::rs485Line, this, [this](int n, const QString &text) {
    if (n == 1) {
      setLog(kRequestPrefix + text, logReply_);
    } else {
      setLog(logRequest_, kReplyPrefix + text);
      Button1->setText(kOk);
    }
  });
  connect(l, &TLink::rs485SettingsRead, this, [this](const Rs485Settings &settings, const QString &line) {
    const std::array<TRadioGroup *, 4> groups = {RadioGroup1, RadioGroup2, RadioGroup3, RadioGroup4};
    for (int g = 0; g < settings.count; ++g) groups[std::size_t(g)]->setItemIndex(settings.index[std::size_t(g)]);
    if (settings.ok) {
      Button5->setText(kOk);   // the link brings the caption back after a second
      return;
    }
    // No second follows a reply that is not understood: usable again at once.
    Button5->setText(kRead);
    Button5->setEnabled(true);
    QString shown = line;
    if (shown.endsWith(QLatin1String("\r\n"))) shown.chop(2);
    errorBox(this, QStringLiteral("Ответ на запрос настроек порта RS-485 не распознан: «%1»").arg(shown));
  });
  connect(l, &TLink::rs485SetupReply, this, [this](const QString &text) { Button2->setText(plainCaption(text)); });
  connect(l, &TLink::watchdogExpired, this, &TForm6::watchdogExpired);
  // The link has dropped the exchange and stopped its watchdog: no reply and no second will
  // come, and the main window tells the operator why.
  connect(l, &TLink::exchangeFailed, this, [this] { requestsOver(true); });
  // A lost device ends polling too: its next request could only fail with a second message.
  connect(l, &TLink::portLost, this, [this] {
    requestsOver(true);
    if (polling()) BitBtn2Click();
    resumePending_ = false;
  });
  connect(l, &TLink::transferActiveChanged, this, &TForm6::transferChanged);
  // A main-window command took the link over: the request is dropped; polling goes on once
  // the link is idle again.
  connect(l, &TLink::stateExchangeDropped, this, [this] {
    requestsOver(true);
    if (polling()) Button3->setEnabled(false);
    resumePending_ = polling();
  });
  connect(l, &TLink::idle, this, &TForm6::resumeTick);
}

void TForm6::setLog(const QString &request, const QString &reply) {
  logRequest_ = request;
  logReply_ = reply;
  Memo1->setPlainText(request + QStringLiteral("\n\n\n") + reply);
}

bool TForm6::polling() const { return BitBtn2->isEnabled(); }

void TForm6::N9Click() {
  setLog(kRequestPrefix, kReplyPrefix);
  for (int n = 1; n <= 8; ++n) {
    CheckBox(n)->setChecked(false);
    showText(Edit(n), QStringLiteral("0,0"));
    showText(Edit(n + 8), QStringLiteral("N/A"));
  }
  Edit(17)->clear();
  if (isVisible()) return;
  // The first time in the middle of the screen; afterwards where the operator left it.
  if (!placed_) {
    if (const QScreen *screen = QGuiApplication::primaryScreen())
      move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    placed_ = true;
  }
  show();
}

// Each command disables its button before the link sends: a send that fails reports the
// failure at once, and that report must find the button already taken.

void TForm6::Button3Click() {
  Button3->setEnabled(false);
  if (!link_->requestStatus()) Button3->setEnabled(true);
}

void TForm6::BitBtn1Click() {
  BitBtn2->setEnabled(true);
  BitBtn1->setEnabled(false);
  Button3->setEnabled(false);
  GroupBox5->setEnabled(false);
  // During a transfer, or while a message box holds what the controller sent, the cycle waits;
  // the re-arm tick resumes it once the link can take requests again.
  if (!link_->requestStatus()) {
    resumePending_ = true;
  }
}

void TForm6::BitBtn2Click() {
  BitBtn2->setEnabled(false);
  BitBtn1->setEnabled(true);
  Button3->setEnabled(true);
  GroupBox5->setEnabled(true);
}

void TForm6::relayClick() {
  QByteArray line;
  for (int n = 9; n <= 17; ++n) line.append(CheckBox(n)->isChecked() ? '1' : '0');
  link_->switchRelays(line);
}

void TForm6::Button1Click() {
  const QString command = Edit(17)->text();
  const Rs485CommandCheck check = checkRs485Command(command);
  if (check != Rs485CommandCheck::Ok) {
    errorBox(this, rs485CommandMessage(check));
    return;
  }
  setLog(kRequestPrefix, kReplyPrefix);
  Button1->setEnabled(false);
  if (!link_->sendRs485(command.toLatin1() + (CheckBox(18)->isChecked() ? "1" : "0")))
    Button1->setEnabled(true);
}

void TForm6::Button5Click() {
  Button5->setEnabled(false);
  if (!link_->readRs485Settings()) Button5->setEnabled(true);
}

void TForm6::Button2Click() {
  const std::array<int, 4> index = {RadioGroup1->itemIndex(), RadioGroup2->itemIndex(),
                                    RadioGroup3->itemIndex(), RadioGroup4->itemIndex()};
  Button2->setEnabled(false);
  if (!link_->setupRs485(rs485SettingsString(index))) Button2->setEnabled(true);
}

void TForm6::requestsOver(bool captions) {
  for (QPushButton *b : {Button1, Button2, Button3, Button5}) b->setEnabled(true);
  if (!captions) return;
  Button1->setText(kSend);
  Button2->setText(kSetup);
  Button3->setText(kRefresh);
  Button5->setText(kRead);
}

void TForm6::watchdogExpired(WatchdogReason reason) {
  if (reason == WatchdogReason::StateDone) {
    requestsOver(true);
    if (polling()) BitBtn1Click();   // the next cycle
  } else if (reason == WatchdogReason::StateNoReply) {
    requestsOver(false);
    errorBox(this, outcomeText(reason));
  }
}

void TForm6::transferChanged(bool active) {
  if (active) {
    // The transfer takes the link over: a state exchange under way is never answered and its
    // second after a reply never ends.
    requestsOver(true);
    if (polling()) Button3->setEnabled(false);
  }
  resumePending_ = !active && polling();
  for (QWidget *gate : transferGates_) gate->setEnabled(!active);
}

void TForm6::resumeTick() {
  // The link says it is idle: a cycle that had to wait goes on now.
  if (!resumePending_) return;
  resumePending_ = false;
  if (polling()) BitBtn1Click();
}
