#include "widgets/EditorWidgets.h"

#include <QAbstractItemView>
#include <QButtonGroup>
#include <QEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QRadioButton>
#include <QStyle>
#include <QTextDocument>
#include <QValidator>
#include <QVBoxLayout>
#include <algorithm>

#include "image/TextRules.h"

TSpinEdit::TSpinEdit(int min, int max, bool typing, QWidget *parent)
    : QSpinBox(parent) {
  setRange(min, max);
  setAccelerated(true);
  // A read-only line edit keeps the buttons and arrow keys working while refusing typed text.
  if (!typing) lineEdit()->setReadOnly(true);
}

int TSpinEdit::fieldValue() const { return cleanText().trimmed().isEmpty() ? minimum() : value(); }

void TSpinEdit::fixup(QString &input) const {
  if (input.trimmed().isEmpty())
    input = textFromValue(minimum());
  else
    QSpinBox::fixup(input);
}

TRadioGroup::TRadioGroup(const QString &title, const QStringList &items, QWidget *parent)
    : QGroupBox(title, parent), group_(new QButtonGroup(this)) {
  auto *lay = new QVBoxLayout(this);
  lay->setContentsMargins(8, 4, 8, 4);
  int i = 0;
  for (const QString &text : items) {
    auto *b = new QRadioButton(text, this);
    group_->addButton(b, i++);
    buttons_.append(b);
    lay->addWidget(b);
  }
}

int TRadioGroup::itemIndex() const { return group_->checkedId(); }

void TRadioGroup::setItemIndex(int index) {
  if (index >= 0 && index < buttons_.size()) {
    buttons_[index]->setChecked(true);
    return;
  }
  group_->setExclusive(false);
  for (auto *b : buttons_) b->setChecked(false);
  group_->setExclusive(true);
}

QRadioButton *TRadioGroup::item(int index) const { return buttons_.value(index); }

TSmsCentreBox::TSmsCentreBox(QWidget *parent) : QComboBox(parent) {
  setEditable(true);
  setCompleter(nullptr);
  setInsertPolicy(QComboBox::NoInsert);
  lineEdit()->installEventFilter(this);
  installEventFilter(this);
}

void TSmsCentreBox::hidePopup() {
  // Only a list that was open closes up; hiding on teardown is no pick.
  const bool wasOpen = view() && view()->isVisible();
  QComboBox::hidePopup();
  if (wasOpen) emit closeUp();
}

bool TSmsCentreBox::eventFilter(QObject *watched, QEvent *event) {
  if (event->type() == QEvent::KeyPress && (watched == lineEdit() || watched == this))
    emit keyDown();
  return QComboBox::eventFilter(watched, event);
}

namespace {

// The line control validates every change. A change the program makes (setText, a picked
// item) leaves the edit unmodified and always stands. An operator's change may not make the
// text longer than the limit or than the text before it, unless it brings back a text that
// stood before (undo, redo).
class TTypedLimit : public QValidator {
public:
  TTypedLimit(QLineEdit *edit, int limit, QComboBox *box)
      : QValidator(edit), edit_(edit), box_(box), limit_(limit), standing_(edit->text()) {
    // During validation the edit already holds the changed text; the one before comes from here.
    connect(edit, &QLineEdit::textChanged, this, [this](const QString &t) {
      standing_ = t;
      if (!stood_.contains(t) && stood_.size() < kRemembered) stood_.append(t);
    });
  }

  int limit() const {
    int n = limit_;
    if (box_)
      for (int i = 0; i < box_->count(); ++i) n = std::max(n, int(box_->itemText(i).size()));
    return n;
  }

  State validate(QString &input, int &pos) const override {
    if (!edit_->isModified()) {
      stood_ = QStringList{input};
      return Acceptable;
    }
    const int over = int(input.size()) - std::max(limit(), int(standing_.size()));
    if (over <= 0 || stood_.contains(input)) return Acceptable;
    // The inserted characters end at the cursor; keep as many of them as fit, as a maximum
    // length would.
    const int at = pos >= over ? pos - over : int(input.size()) - over;
    QString cut = input;
    cut.remove(at, over);
    if (cut == standing_) return Invalid;   // none fit: the change is refused whole
    input = cut;
    pos = std::min(at, int(input.size()));
    return Acceptable;
  }

private:
  static constexpr int kRemembered = 256;
  QLineEdit *edit_;
  QPointer<QComboBox> box_;
  int limit_;
  QString standing_;
  mutable QStringList stood_;   // texts since the program last set one, for undo and redo
};

}  // namespace

void setTypedLimit(QLineEdit *edit, int limit) {
  edit->setMaxLength(32767);
  edit->setValidator(new TTypedLimit(edit, limit, nullptr));
}

void setTypedLimit(QComboBox *box, int limit) {
  QLineEdit *edit = box->lineEdit();
  Q_ASSERT(edit);
  edit->setMaxLength(32767);
  edit->setValidator(new TTypedLimit(edit, limit, box));
}

int typedLimit(const QLineEdit *edit) {
  if (const auto *v = dynamic_cast<const TTypedLimit *>(edit->validator())) return v->limit();
  return edit->maxLength();
}

TLineLabel::TLineLabel(const QString &text, QWidget *parent) : QLabel(text, parent) {
  setTextFormat(Qt::PlainText);
  setWordWrap(false);
  // The layout gives the width; the height is one line whatever the text.
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

QString TLineLabel::shownText() const { return textrules::oneLine(text()); }

QSize TLineLabel::sizeHint() const {
  const QMargins m = contentsMargins();
  return QSize(fontMetrics().averageCharWidth() * 20, fontMetrics().height()) +
         QSize(m.left() + m.right(), m.top() + m.bottom());
}

QSize TLineLabel::minimumSizeHint() const { return QSize(0, sizeHint().height()); }

bool TLineLabel::event(QEvent *event) {
  if (event->type() == QEvent::ToolTip) {
    // The received text, never taken as markup.
    QString lines = text();
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    while (lines.endsWith(QLatin1Char('\n'))) lines.chop(1);
    setToolTip(Qt::mightBeRichText(lines) ? Qt::convertFromPlainText(lines, Qt::WhiteSpacePre) : lines);
  }
  return QLabel::event(event);
}

void TLineLabel::paintEvent(QPaintEvent *) {
  QPainter p(this);
  const QRect r = contentsRect();
  const QString line = fontMetrics().elidedText(shownText(), Qt::ElideRight, r.width());
  style()->drawItemText(&p, r, int(alignment() | Qt::TextSingleLine), palette(), isEnabled(), line,
                        foregroundRole());
}
