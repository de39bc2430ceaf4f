#include "widgets/FormKit.h"

#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QTabWidget>
#include <QVBoxLayout>

namespace formkit {

QLabel *label(const QString &text, QWidget *buddy, QWidget *parent) {
  auto *l = new QLabel(text, parent);
  l->setTextFormat(Qt::PlainText);
  if (buddy) l->setBuddy(buddy);
  return l;
}

QTabWidget *tabsIn(QWidget *page, const QString &objectName) {
  auto *lay = new QVBoxLayout(page);
  lay->setContentsMargins(2, 2, 2, 2);
  auto *tabs = new QTabWidget(page);
  tabs->setObjectName(objectName);
  lay->addWidget(tabs);
  return tabs;
}

void fieldColumns(QGridLayout *grid, QWidget *labelParent, const Fields &fields, int rows) {
  for (int i = 0; i < fields.size(); ++i) {
    const int column = 2 * (i / rows);
    grid->addWidget(label(fields[i].first, fields[i].second, labelParent), i % rows, column);
    grid->addWidget(fields[i].second, i % rows, column + 1);
  }
}

namespace {

class Hook : public QObject {
public:
  Hook(QObject *owner, std::function<void(QEvent *)> seen) : QObject(owner), seen_(std::move(seen)) {}

protected:
  bool eventFilter(QObject *, QEvent *event) override {
    seen_(event);
    return false;
  }

private:
  std::function<void(QEvent *)> seen_;
};

}  // namespace

void watch(QObject *owner, QObject *watched, std::function<void(QEvent *)> seen) {
  watched->installEventFilter(new Hook(owner, std::move(seen)));
}

}  // namespace formkit
