#pragma once
// The few control kinds the editor needs beyond plain Qt widgets.

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QSpinBox>
#include <QStringList>

class QButtonGroup;
class QLineEdit;
class QRadioButton;

// A limit on what the operator types or pastes, never on what the program puts into a field
// (QLineEdit::setMaxLength cuts both, so a decoded text or a picked item would lose its tail).
// Typing stops at the limit; a longer text the program put there may be shortened but not
// lengthened; a paste keeps only what fits; undo brings back what stood. Replaces any validator
// of the edit.
void setTypedLimit(QLineEdit *edit, int limit);
// For an editable combo box: the limit, or the longest listed item when that is longer; the
// list may change at any time.
void setTypedLimit(QComboBox *box, int limit);
// The typed limit of an edit; QLineEdit::maxLength() when it has none.
int typedLimit(const QLineEdit *edit);

// Integer field with up/down buttons that clamps to its range. Unless typing is allowed,
// the value changes only by the buttons (and the arrow keys), never by typed text.
class TSpinEdit : public QSpinBox {
  Q_OBJECT
public:
  TSpinEdit(int min, int max, bool typing, QWidget *parent = nullptr);
  // What the field holds as shown: an emptied field counts as its minimum even before the
  // operator leaves it (value() still has the number typed over).
  int fieldValue() const;
  // An emptied field takes its minimum when left, rather than the number typed over.
  void fixup(QString &input) const override;
};

// A titled group of exclusive radio buttons addressed by item index, as the image needs it.
class TRadioGroup : public QGroupBox {
  Q_OBJECT
public:
  TRadioGroup(const QString &title, const QStringList &items, QWidget *parent = nullptr);
  int itemIndex() const;
  void setItemIndex(int index);   // -1 clears the choice
  QRadioButton *item(int index) const;

private:
  QButtonGroup *group_;
  QList<QRadioButton *> buttons_;
};

// Editable SMS centre list. Reports the list closing (a pick) and every key press, which the
// window answers with its delayed number check.
class TSmsCentreBox : public QComboBox {
  Q_OBJECT
public:
  explicit TSmsCentreBox(QWidget *parent = nullptr);
  void hidePopup() override;

signals:
  void closeUp();
  void keyDown();

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;
};

// One line of received text in a box of fixed height: text() stays exactly what was received
// (CR LF included), while the label shows it on one line with control characters as blanks,
// elided to its width, and the whole text as tooltip. Its size never follows the text, so a
// long or multi-line reception cannot move the window's layout.
class TLineLabel : public QLabel {
  Q_OBJECT
public:
  explicit TLineLabel(const QString &text, QWidget *parent = nullptr);
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;
  QString shownText() const;   // the folded, not yet elided line

protected:
  bool event(QEvent *event) override;
  void paintEvent(QPaintEvent *event) override;
};
