#include "editor/Unit1.h"

#include <QGuiApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>

#include "editor/ExchangePanel.h"
#include "image/ControlTable.h"
#include "link/Link.h"
#include "widgets/EditorWidgets.h"
#include "widgets/FieldChecks.h"
#include "widgets/FormKit.h"
#include "widgets/MessageBoxes.h"
#include "widgets/PortPicker.h"
#include "widgets/Resources.h"
#include "widgets/Unit5.h"

TQuorlan *Quorlan = nullptr;

namespace {

constexpr QSize kClientSize(603, 620);
const QColor kSkyBlue(166, 202, 240);
const QColor kDisabledText(88, 98, 116);   // 3.6:1 on the sky blue

const char *const kSmsCentres[] = {
    "+79168999100 МТС (Москва)",          "+79112009993 МТС (Северо-Запад)",
    "+79116009993 МТС (Вел.Новгород)",    "+79219909090 Мегафон (Северо-Запад)",
    "+79222909090 Мегафон (Урал)",        "+79262909090 Мегафон (Москва)",
    "+79272909090 Мегафон (Поволжье)",
};

QString u(const char *text) { return QString::fromUtf8(text); }
QGroupBox *group(const QString &title, QWidget *parent) { return new QGroupBox(title, parent); }
using formkit::label;
using controls::Kind;

// The words of the control table: the window's tabs, frames and labels are the settings' own.
const controls::Words &words(Kind kind, int number) { return controls::wordsOf(kind, number); }
const QString &caption(Kind kind, int number) { return words(kind, number).label; }
QString startText(int edit) { return u(controls::textField(edit)->start); }

}  // namespace

TQuorlan::TQuorlan(TLink &link, QWidget *parent, bool hiddenPagesLater)
    : QMainWindow(parent), link_(&link), hiddenPagesLater_(hiddenPagesLater) {
  setObjectName(QStringLiteral("Quorlan"));
  setWindowTitle(QStringLiteral("Quorlan v.18"));
  ensureResources();
  setWindowIcon(QIcon(QStringLiteral(":/resources/quorlan.png")));
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setAttribute(Qt::WA_AlwaysShowToolTips);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, kSkyBlue);
  // The style's grey for disabled text all but vanishes on sky blue (the closed link's menu,
  // the whole editor during a transfer); this one stays readable and still looks disabled.
  for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::ButtonText})
    pal.setColor(QPalette::Disabled, role, kDisabledText);
  setPalette(pal);
  setAutoFillBackground(true);
  QFont small = font();
  small.setPointSize(8);
  setFont(small);

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setSingleShot(true);
  Timer1->setInterval(50);
  connect(Timer1, &QTimer::timeout, this, &TQuorlan::Timer1Timer);

  buildMenu();

  auto *central = new QWidget(this);
  auto *centralLayout = new QVBoxLayout(central);
  centralLayout->setContentsMargins(0, 0, 0, 0);
  PageControl1 = new QTabWidget(central);
  PageControl1->setObjectName(QStringLiteral("PageControl1"));
  centralLayout->addWidget(PageControl1);
  setCentralWidget(central);

  // A page: a plain widget under its tab's caption, laid out by its builder.
  const auto addPage = [](QTabWidget *tabs, const char *name, const QString &caption, auto build) {
    auto *page = new QWidget;
    if (*name) page->setObjectName(QString::fromLatin1(name));
    build(page);
    tabs->addTab(page, caption);
    return page;
  };
  // A page no tab shows at start: its builder is kept for buildPendingPages() when asked to.
  const auto hidden = [this](auto build) {
    return [this, build](QWidget *page) {
      if (hiddenPagesLater_) pendingPages_.push_back([build, page] { build(page); });
      else build(page);
    };
  };
  // Each tab is named as the settings on it say.
  const QStringList &general = words(Kind::Text, 1).tabs, &contacts = words(Kind::Tree, 1).tabs,
                    &analog = words(Kind::Tree, 2).tabs, &sensors = words(Kind::Tree, 3).tabs,
                    &inputDelays = words(Kind::Spin, 76).tabs, &relayDelays = words(Kind::Spin, 3).tabs,
                    &security = words(Kind::Radio, 1).tabs;
  addPage(PageControl1, "", general[0], [this](QWidget *p) { buildGeneralPage(p); });
  addPage(PageControl1, "", contacts[0],
          [this](QWidget *p) { PageControl2 = formkit::tabsIn(p, QStringLiteral("PageControl2")); });
  // The contacts page holds its tree only, which the tree panel puts in.
  treePage1 = addPage(PageControl2, "TabSheetContacts", contacts[1], [](QWidget *p) { new QVBoxLayout(p); });
  treePage2 = addPage(PageControl2, "TabSheetAnalog", analog[1], hidden([this](QWidget *p) { buildAnalogPage(p); }));
  treePage3 = addPage(PageControl2, "TabSheetSensors", sensors[1], [this](QWidget *p) { buildSensorPage(p); });
  addPage(PageControl2, "", inputDelays[1],
          [this](QWidget *p) { PageControl3 = formkit::tabsIn(p, QStringLiteral("PageControl3")); });
  addPage(PageControl3, "", inputDelays[2], hidden([this](QWidget *p) { buildInputDelaysPage(p); }));
  addPage(PageControl3, "", relayDelays[2], hidden([this](QWidget *p) { buildRelayDelaysPage(p); }));
  addPage(PageControl1, "", security[0], [this](QWidget *p) { buildSecurityPage(p); });
  // Tab pages paint the window's sky blue rather than the style's page colour.
  for (QTabWidget *tabs : {PageControl1, PageControl2, PageControl3})
    for (int i = 0; i < tabs->count(); ++i) tabs->widget(i)->setAutoFillBackground(true);
  // A tab opened before the pages left for later were built brings them now.
  for (QTabWidget *tabs : {PageControl1, PageControl2, PageControl3})
    connect(tabs, &QTabWidget::currentChanged, this, &TQuorlan::buildPendingPages);

  StatusBar1 = new QStatusBar(this);
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  StatusBar1->setSizeGripEnabled(false);
  setStatusBar(StatusBar1);

  // Controls take their start-up values from the one table that also places them in the image.
  for (const auto &f : controls::spinFields())
    if (spinEdits_[f.number]) spinEdits_[f.number]->setValue(f.start);
  for (const auto &f : controls::textFields())
    if (edits_[f.number]) edits_[f.number]->setText(startText(f.number));

  // The SMS centre check runs once shortly after start-up as well.
  Timer1->start();

  buildExchange();
  FormCreate();

  // Client area 603 x 620 below the menu bar; fixed size.
  setFixedSize(kClientSize + QSize(0, menuBar()->sizeHint().height()));
  if (const QScreen *screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - frameGeometry().center() + pos());

  link_->startRearmTick();
}

bool TQuorlan::event(QEvent *event) {
  // The first paint is on its way to the screen: the pages left for later follow it.
  if (event->type() == QEvent::Paint && !pendingPages_.empty() && !pagesQueued_) {
    pagesQueued_ = true;
    QTimer::singleShot(0, this, &TQuorlan::buildPendingPages);
  }
  return QMainWindow::event(event);
}

void TQuorlan::buildPendingPages() {
  if (pendingPages_.empty()) return;
  const std::vector<std::function<void()>> pages = std::move(pendingPages_);
  pendingPages_.clear();
  const auto before = edits_;
  for (const auto &build : pages) build();
  // Their controls take their start-up values as the others did (spin fields take theirs when made).
  for (const auto &f : controls::textFields())
    if (!before[f.number] && edits_[f.number]) edits_[f.number]->setText(startText(f.number));
}

void TQuorlan::setProgress(TProgress *progress) {
  if (progress_ && progress_ != progress && progress_->parent() == this) delete progress_;
  progress_ = progress;
  // It shows this window's operations, centred over it.
  if (progress_) progress_->setOwner(this);
}

TProgress *TQuorlan::progress() {
  // One of its own is its child.
  if (!progress_) setProgress(new TProgress(this));
  return progress_;
}

TQuorlan::~TQuorlan() {
  // Children outlive this body; none of them may call back into a window being torn down.
  Timer1->stop();
  ComboBox2->disconnect(this);
}

void TQuorlan::FormCreate() {
  Label39->setText(u("Идет поиск"));
  Label40->clear();
  N5->menuAction()->setEnabled(false);
  Exchange->scan();   // lists the ports, opens the first, listens for the controller
  RadioGroup1->setItemIndex(0);
  RadioGroup2->setItemIndex(0);
  ComboBox2->setCurrentIndex(0);
  ComboBox2->setEditText(ComboBox2->currentText().left(12));
  // The trees go into pages that may still be to come.
  if (hiddenPagesLater_) pendingPages_.push_back([this] { buildTrees(); });
  else buildTrees();
  Edit1->setText(startText(1));
  Edit2->setText(startText(2));
}

TSpinEdit *TQuorlan::makeSpin(int n, QWidget *parent) {
  const controls::SpinField *f = controls::spinField(n);
  Q_ASSERT(f);
  auto *s = new TSpinEdit(f->min, f->max, f->typing, parent);
  s->setObjectName(QStringLiteral("SpinEdit%1").arg(n));
  s->setValue(f->start);
  s->setMaximumWidth(90);
  spinEdits_[n] = s;
  return s;
}

QCheckBox *TQuorlan::makeCheck(int n, const QString &caption, QWidget *parent) {
  auto *c = new QCheckBox(caption, parent);
  c->setObjectName(QStringLiteral("CheckBox%1").arg(n));
  checkBoxes_[n] = c;
  return c;
}

QLineEdit *TQuorlan::makeEdit(int n, QWidget *parent) {
  const controls::TextField *f = controls::textField(n);
  Q_ASSERT(f);
  auto *e = new QLineEdit(parent);
  e->setObjectName(QStringLiteral("Edit%1").arg(n));
  // The decoder may put in more than may be typed (units: 10 characters, 6 typed).
  setTypedLimit(e, f->maxLength);
  edits_[n] = e;
  return e;
}

void TQuorlan::buildMenu() {
  auto *bar = menuBar();
  bar->setObjectName(QStringLiteral("MainMenu1"));
  bar->setNativeMenuBar(false);
  using formkit::menuItem;
  N1 = bar->addMenu(u("Файл"));
  N1->setObjectName(QStringLiteral("N1"));
  mmOpen = menuItem(N1, "mmOpen", u("Открыть"), this, &TQuorlan::mmOpenClick);
  mmSave = menuItem(N1, "mmSave", u("Сохранить"), this, &TQuorlan::mmSaveClick);
  N4 = menuItem(N1, "N4", u("Выход"), this, &TQuorlan::N4Click);
  N5 = bar->addMenu(u("Обмен с контроллером"));
  N5->setObjectName(QStringLiteral("N5"));
  N6 = menuItem(N5, "N6", u("Сохранить конфигурацию"), this, &TQuorlan::N6Click);
  N7 = menuItem(N5, "N7", u("Считать конфигурацию"), this, &TQuorlan::N7Click);
  N8 = menuItem(N5, "N8", u("Установить системное время"), this, &TQuorlan::N8Click);
  N9 = menuItem(N5, "N9", u("Текущее состояние и управление"), this, &TQuorlan::N9Click);
  N10 = bar->addMenu(u("Справка"));
  N10->setObjectName(QStringLiteral("N10"));
  N11 = menuItem(N10, "N11", u("О программе"), this, &TQuorlan::N11Click);
}

void TQuorlan::buildGeneralPage(QWidget *page) {
  auto *top = new QHBoxLayout(page);
  top->setContentsMargins(6, 6, 6, 6);
  auto *left = new QVBoxLayout;
  auto *right = new QVBoxLayout;
  top->addLayout(left, 3);
  top->addLayout(right, 2);

  auto *form = new QGridLayout;
  form->setVerticalSpacing(3);
  int row = 0;
  auto addRow = [&](const QString &text, QWidget *field) {
    form->addWidget(label(text, field, page), row, 0);
    form->addWidget(field, row, 1);
    ++row;
  };
  Edit1 = makeEdit(1, page);
  addRow(caption(Kind::Text, 1), Edit1);
  Edit2 = makeEdit(2, page);
  formkit::watch(this, Edit2, [this](QEvent *e) {
    if (e->type() == QEvent::MouseButtonPress && static_cast<QMouseEvent *>(e)->button() == Qt::LeftButton) Edit2Click();
  });
  addRow(caption(Kind::Text, 2), Edit2);
  addRow(caption(Kind::Spin, 1), makeSpin(1, page));
  left->addLayout(form);

  left->addWidget(new QLabel(caption(Kind::SmsCentre, 2), page));
  ComboBox2 = new TSmsCentreBox(page);
  ComboBox2->setObjectName(QStringLiteral("ComboBox2"));
  for (const char *entry : kSmsCentres) ComboBox2->addItem(u(entry));
  static_cast<QLabel *>(left->itemAt(left->count() - 1)->widget())->setBuddy(ComboBox2);
  connect(ComboBox2, &TSmsCentreBox::closeUp, this, &TQuorlan::ComboBox2CloseUp);
  connect(ComboBox2, &TSmsCentreBox::keyDown, this, &TQuorlan::ComboBox2KeyDown);
  left->addWidget(ComboBox2);

  auto *form2 = new QGridLayout;
  form2->setVerticalSpacing(3);
  auto *csd = makeCheck(8, QString(), page);
  form2->addWidget(label(caption(Kind::Check, 8), csd, page), 0, 0);
  form2->addWidget(csd, 0, 1, Qt::AlignRight);
  auto *archive = makeSpin(11, page);
  form2->addWidget(label(caption(Kind::Spin, 11), archive, page), 1, 0);
  form2->addWidget(archive, 1, 1);
  left->addLayout(form2);

  auto *numbers = group(words(Kind::Text, 3).groups[0], page);
  numbers->setObjectName(QStringLiteral("GroupBoxNumbers"));
  auto *ng = new QGridLayout(numbers);
  ng->setVerticalSpacing(2);
  ng->setContentsMargins(6, 4, 6, 4);
  for (int n = 0; n < 8; ++n) {
    phoneEdits[n] = makeEdit(3 + n, numbers);
    ng->addWidget(label(caption(Kind::Text, 3 + n), phoneEdits[n], numbers), n, 0);
    ng->addWidget(phoneEdits[n], n, 1);
  }
  phoneEdits[8] = makeEdit(11, numbers);
  ng->addWidget(label(caption(Kind::Text, 11), phoneEdits[8], numbers), 8, 0, 1, 2);
  ng->addWidget(phoneEdits[8], 9, 0, 1, 2);
  left->addWidget(numbers);
  left->addStretch(1);

  // About panel, top right, always visible.
  Panel2 = new QFrame(page);
  Panel2->setObjectName(QStringLiteral("Panel2"));
  static_cast<QFrame *>(Panel2)->setFrameShape(QFrame::Panel);
  static_cast<QFrame *>(Panel2)->setFrameShadow(QFrame::Raised);
  auto *about = new QVBoxLayout(Panel2);
  about->setSpacing(0);
  for (const char *line : {"Quorlan v 18", "Программа - конфигуратор", "для программируемых",
                           "контроллеров", "KORVEL", "версии GSM."}) {
    auto *l = new QLabel(u(line), Panel2);
    l->setAlignment(Qt::AlignCenter);
    about->addWidget(l);
  }
  right->addWidget(Panel2);

  auto *content = group(words(Kind::Check, 1).groups[0], page);
  auto *cl = new QVBoxLayout(content);
  cl->setSpacing(1);
  cl->setContentsMargins(6, 2, 6, 2);
  for (int n = 1; n <= 3; ++n) cl->addWidget(makeCheck(n, caption(Kind::Check, n), content));
  right->addWidget(content);

  auto *times = group(words(Kind::Check, 4).groups[0], page);
  auto *tl = new QGridLayout(times);
  tl->setVerticalSpacing(1);
  tl->setContentsMargins(6, 2, 6, 2);
  for (int i = 0; i < 4; ++i) tl->addWidget(makeCheck(4 + i, caption(Kind::Check, 4 + i), times), i / 2, i % 2);
  right->addWidget(times);

  auto *link = group(u("Соединение с контроллером"), page);
  auto *ll = new QGridLayout(link);
  ll->setContentsMargins(6, 4, 6, 4);
  ComboBox1 = new TPortPicker(link);
  ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
  ComboBox1->setEditable(true);
  ComboBox1->setInsertPolicy(QComboBox::NoInsert);
  ComboBox1->setCompleter(nullptr);
  // A picked name stays whole: "COM10" must not open COM1.
  setTypedLimit(ComboBox1, 4);
  ll->addWidget(label(u("СОМ-порт"), ComboBox1, link), 0, 0);
  ll->addWidget(ComboBox1, 0, 1);
  Label41 = new TLineLabel(u("обмен"), link);
  Label41->setObjectName(QStringLiteral("Label41"));
  ll->addWidget(Label41, 1, 0, 1, 2);
  auto *info = group(u("Информация о контроллере"), link);
  auto *il = new QVBoxLayout(info);
  il->setContentsMargins(6, 2, 6, 2);
  Label39 = new QLabel(info);
  Label39->setObjectName(QStringLiteral("Label39"));
  Label40 = new QLabel(info);
  Label40->setObjectName(QStringLiteral("Label40"));
  il->addWidget(Label39);
  il->addWidget(Label40);
  ll->addWidget(info, 2, 0, 1, 2);
  right->addWidget(link);
  right->addStretch(1);
}

void TQuorlan::buildAnalogPage(QWidget *page) {
  auto *lay = new QVBoxLayout(page);
  lay->setContentsMargins(4, 4, 4, 4);
  auto *grid = new QGridLayout;
  grid->setVerticalSpacing(1);
  grid->setHorizontalSpacing(4);
  auto heading = [&](const QString &text, const char *hint, int col, int span) {
    auto *h = new QLabel(text, page);
    h->setToolTip(u(hint));
    h->setAlignment(Qt::AlignCenter);
    h->setWordWrap(true);
    grid->addWidget(h, 0, col, 1, span);
  };
  // The column headings are the settings' columns in the table.
  heading(words(Kind::Spin, controls::signalMinSpin(0)).column,
          "Выходной сигнал подключаемого датчика (4..20 мА, 0..5 мА, 0..20 мА, 0..10 В)", 1, 3);
  heading(words(Kind::Spin, controls::rangeMinSpin(0)).column,
          "Измеряемый диапазон значений (кг., атм., град. и т.д.)", 4, 4);
  const char *const unitsHint = "Кг, Атм, %, Па, МПа, Бар и т.д.";
  heading(words(Kind::Text, controls::unitsEdit(0)).column, unitsHint, 8, 1);
  for (int i = 0; i < 8; ++i) {
    const int r = i + 1;
    auto *sMin = makeSpin(12 + i, page);
    sMin->setToolTip(u("Минимальное значение измеряемого сигнала"));
    auto *sMax = makeSpin(20 + i, page);
    sMax->setToolTip(u("Максимальное значение измеряемого сигнала"));
    auto *rMin = makeSpin(i < 7 ? 28 + i : 67, page);
    rMin->setToolTip(u("Минимальное значение датчика"));
    auto *rMax = makeSpin(68 + i, page);
    rMax->setToolTip(u("Максимальное значение датчика"));
    unitEdits[i] = makeEdit(21 + i, page);
    unitEdits[i]->setToolTip(u(unitsHint));
    // The first column's label names the row as well.
    const controls::Words &first = words(Kind::Spin, 12 + i);
    grid->addWidget(label(first.row + QStringLiteral("    ") + first.label, sMin, page), r, 0);
    grid->addWidget(sMin, r, 1);
    grid->addWidget(label(caption(Kind::Spin, 20 + i), sMax, page), r, 2);
    grid->addWidget(sMax, r, 3);
    grid->addWidget(label(caption(Kind::Spin, i < 7 ? 28 + i : 67), rMin, page), r, 4);
    grid->addWidget(rMin, r, 5);
    grid->addWidget(label(caption(Kind::Spin, 68 + i), rMax, page), r, 6);
    grid->addWidget(rMax, r, 7);
    grid->addWidget(unitEdits[i], r, 8);
  }
  grid->setColumnStretch(8, 1);
  lay->addLayout(grid);
}

void TQuorlan::buildSensorPage(QWidget *page) {
  auto *lay = new QVBoxLayout(page);
  lay->setContentsMargins(4, 4, 4, 4);
  auto *ids = group(words(Kind::Text, 13).groups[0], page);
  auto *grid = new QGridLayout(ids);
  grid->setVerticalSpacing(1);
  grid->setContentsMargins(6, 2, 6, 2);
  formkit::Fields fields;
  for (int k = 0; k < 8; ++k) fields.append({caption(Kind::Text, 13 + k), sensorIdEdits[k] = makeEdit(13 + k, ids)});
  formkit::fieldColumns(grid, ids, fields, 4);
  auto *read = new QPushButton(u("Считать ID"), ids);
  read->setObjectName(QStringLiteral("Button3"));
  read->setEnabled(false);
  Button3 = read;
  grid->addWidget(read, 0, 4, 4, 1, Qt::AlignCenter);
  lay->addWidget(ids);
}

void TQuorlan::buildInputDelaysPage(QWidget *page) {
  auto *lay = new QVBoxLayout(page);
  lay->setContentsMargins(4, 4, 4, 4);
  auto inputs = [&](QWidget *parent, int first) {
    auto *grid = new QGridLayout(parent);
    grid->setVerticalSpacing(1);
    grid->setContentsMargins(6, 2, 6, 2);
    formkit::Fields fields;
    for (int i = 0; i < 8; ++i) fields.append({caption(Kind::Spin, first + i), makeSpin(first + i, parent)});
    formkit::fieldColumns(grid, parent, fields, 4);
  };
  auto *presence = group(words(Kind::Spin, 76).groups[0], page);
  inputs(presence, 76);
  lay->addWidget(presence);
  // A frame of two: the contact inputs' fields from `contactFirst`, the analog ones' from
  // `analogFirst`.
  auto pair = [&](int contactFirst, int analogFirst) {
    const QStringList &contactFrames = words(Kind::Spin, contactFirst).groups;
    auto *g = group(contactFrames[0], page);
    auto *h = new QHBoxLayout(g);
    h->setContentsMargins(4, 2, 4, 2);
    auto *c = group(contactFrames[1], g);
    inputs(c, contactFirst);
    auto *a = group(words(Kind::Spin, analogFirst).groups[1], g);
    inputs(a, analogFirst);
    h->addWidget(c);
    h->addWidget(a);
    lay->addWidget(g);
  };
  pair(35, 43);   // reaction delays
  pair(51, 59);   // insensitivity
  lay->addStretch(1);
}

void TQuorlan::buildRelayDelaysPage(QWidget *page) {
  auto *lay = new QVBoxLayout(page);
  lay->setContentsMargins(4, 4, 4, 4);
  auto *g = group(words(Kind::Spin, 3).groups[0], page);
  auto *grid = new QGridLayout(g);
  formkit::Fields fields;
  for (int r = 0; r < 8; ++r) fields.append({caption(Kind::Spin, 3 + r), makeSpin(3 + r, g)});
  formkit::fieldColumns(grid, g, fields, 4);
  lay->addWidget(g);
  lay->addStretch(1);
}

void TQuorlan::buildSecurityPage(QWidget *page) {
  auto *lay = new QVBoxLayout(page);
  lay->setContentsMargins(6, 6, 6, 6);
  const QStringList &choices = controls::radioItems();
  auto *radios = new QHBoxLayout;
  RadioGroup1 = new TRadioGroup(caption(Kind::Radio, 1), choices, page);
  RadioGroup1->setObjectName(QStringLiteral("RadioGroup1"));
  RadioGroup2 = new TRadioGroup(caption(Kind::Radio, 2), choices, page);
  RadioGroup2->setObjectName(QStringLiteral("RadioGroup2"));
  radios->addWidget(RadioGroup1);
  radios->addWidget(RadioGroup2);
  lay->addLayout(radios);

  auto *disarm = group(words(Kind::Check, 9).groups[0], page);
  auto *dl = new QVBoxLayout(disarm);
  auto boxes = [&](int first) {
    auto *g = group(words(Kind::Check, first).groups[1], disarm);
    auto *h = new QHBoxLayout(g);
    for (int i = 0; i < 8; ++i) h->addWidget(makeCheck(first + i, caption(Kind::Check, first + i), g));
    dl->addWidget(g);
  };
  boxes(9);    // contact inputs
  boxes(17);   // analog inputs
  lay->addWidget(disarm);

  auto *key = group(words(Kind::Text, 12).groups[0], page);
  auto *kl = new QHBoxLayout(key);
  Edit12 = makeEdit(12, key);
  kl->addWidget(Edit12);
  auto *read = new QPushButton(u("Считать"), key);
  read->setObjectName(QStringLiteral("Button1"));
  Button1 = read;
  kl->addWidget(read);
  lay->addWidget(key);

  auto *arming = new QHBoxLayout;
  auto *delay = makeSpin(2, page);
  arming->addWidget(label(caption(Kind::Spin, 2), delay, page));
  arming->addWidget(delay);
  arming->addStretch(1);
  lay->addLayout(arming);
  lay->addStretch(1);
}

void TQuorlan::ComboBox2CloseUp() { Timer1->start(); }
void TQuorlan::ComboBox2KeyDown() { Timer1->start(); }

void TQuorlan::Timer1Timer() {
  Timer1->stop();
  // A picked item keeps its number only; then only the characters count, not where "+" stands
  // nor the length.
  const QString text = ComboBox2->currentText();
  if (const qsizetype blank = text.indexOf(QLatin1Char(' ')); blank >= 0) ComboBox2->setEditText(text.left(blank));
  fieldcheck::refusePhone(this, ComboBox2->lineEdit());
}

void TQuorlan::Edit2Click() {
  if (Edit2->text() == startText(2)) Edit2->clear();
}

void TQuorlan::N4Click() { close(); }

void TQuorlan::N11Click() { aboutBox(this); }

void TQuorlan::closeEvent(QCloseEvent *event) {
  FormClose();
  event->accept();
}
