#pragma once
// The few control kinds the editor needs beyond plain Qt widgets.

#include <QComboBox>
#include <QGroupBox>
#include <QSpinBox>
#include <QStringList>

class QButtonGroup;
class QRadioButton;

// Integer field with up/down buttons that clamps to its range. Unless typing is allowed,
// the value changes only by the buttons (and the arrow keys), never by typed text.
class TSpinEdit : public QSpinBox {
  Q_OBJECT
public:
  TSpinEdit(int min, int max, bool typing, QWidget *parent = nullptr);
  bool typingAllowed() const { return typing_; }

private:
  bool typing_;
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
