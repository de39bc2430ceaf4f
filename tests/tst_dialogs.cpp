// The threshold and SMS dialogs (look, OK, Cancel, empty values, Escape and Enter ignored, a
// stored threshold unchanged by OK) and the key-release character checks of the threshold edit
// and the nine telephone fields.
#include <QtTest>

#include <QClipboard>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTreeWidget>

#include <bit>
#include <cmath>
#include <limits>

#include "widgets/Unit5.h"
#include "widgets/EditorWidgets.h"
#include "widgets/FieldChecks.h"
#include "editor/TreePanel.h"
#include "editor/Unit1.h"
#include "editor/Unit2.h"
#include "editor/Unit3.h"
#include "image/ReactionTrees.h"
#include "image/ThresholdText.h"
#include "soak.h"
#include "testsupport.h"

using testsupport::ModalWatcher;

namespace {

void typeText(QWidget *w, const QString &text) {
  for (const QChar ch : text)
    QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(ch), Qt::NoModifier);
}

const QString kPhoneMessage = QStringLiteral(
    "НЕВЕРНЫЙ НОМЕР ТЕЛЕФОНА\r\n\r\nМожно вводить только цифры и символ \"+\"\r\n"
    "Номер начинается с символа \"+\", далее цифры");
const QString kThresholdMessage = QStringLiteral(
    "НЕВЕРНОЕ ЗНАЧЕНИЕ\r\n\r\nМожно вводить только цифры и символы \".\" и \"-\"\r\n"
    "Например 4,5 или -8,3");

}  // namespace

class TestDialogs : public QObject {
  Q_OBJECT
  TQuorlan *w = nullptr;

  // Runs the dialog modally; `during` acts on it while it shows and must close it.
  int runModal(QDialog *d, const std::function<void()> &during) {
    bool ran = false;
    QTimer::singleShot(0, d, [&] {
      ran = QApplication::activeModalWidget() == d;
      during();
    });
    const int result = d->exec();
    if (!ran) qWarning("the dialog was not the active modal window");
    return result;
  }

private slots:
  void initTestCase() {
    QVERIFY(testsupport::startShownWindows());
    w = Quorlan;
  }
  void cleanupTestCase() { testsupport::stopWindows(); }
  void init() { testsupport::resetEditor(Quorlan); }

  void dialogsLookAsDescribed() {
    QCOMPARE(Form3->windowTitle(), QStringLiteral("Значение"));
    QCOMPARE(Form3->GroupBox1->title(), QStringLiteral("Ведите цифровое значение порога"));
    QCOMPARE(typedLimit(Form3->Edit1), 10);
    QCOMPARE(SMS->windowTitle(), QStringLiteral("SMS"));
    QCOMPARE(SMS->GroupBox1->title(), QStringLiteral("Введите текст сообщения (max 32 символа)"));
    QCOMPARE(typedLimit(SMS->Edit21), 32);
    for (QDialog *d : {static_cast<QDialog *>(Form3), static_cast<QDialog *>(SMS)}) {
      QVERIFY(d->isModal());
      const Qt::WindowFlags f = d->windowFlags();
      QVERIFY(!(f & (Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint |
                     Qt::WindowMaximizeButtonHint | Qt::WindowContextHelpButtonHint |
                     Qt::WindowSystemMenuHint)));
      const QList<QPushButton *> buttons = d->findChildren<QPushButton *>();
      QCOMPARE(buttons.size(), 2);
      QStringList texts;
      for (QPushButton *b : buttons) {
        texts << b->text();
        QVERIFY(!b->autoDefault() && !b->isDefault());
      }
      texts.sort();
      QCOMPARE(texts, QStringList({"Cancel", "OK"}));
    }
  }

  void escapeEnterAndCloseDoNotEndTheDialogs() {
    for (QDialog *d : {static_cast<QDialog *>(Form3), static_cast<QDialog *>(SMS)}) {
      QLineEdit *edit = d == Form3 ? Form3->Edit1 : SMS->Edit21;
      QPushButton *cancel = d == Form3 ? Form3->Button2 : SMS->Button2;
      bool stillShown = false;
      const int result = runModal(d, [&] {
        for (QWidget *target : {static_cast<QWidget *>(edit), static_cast<QWidget *>(d),
                                static_cast<QWidget *>(cancel)})
          for (Qt::Key k : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) QTest::keyClick(target, k);
        QVERIFY(!d->close());  // what the window manager's close asks
        stillShown = d->isVisible();
        QTest::mouseClick(cancel, Qt::LeftButton);
      });
      QVERIFY(stillShown);
      QCOMPARE(result, int(QDialog::Rejected));
      QVERIFY(!d->isVisible());
    }
  }

  void thresholdOkWritesTheSelectedNodeOfTheTargetTree() {
    QTreeWidgetItem *lower = w->Trees->node(2, 69 * 4 + 47);
    w->TreeView2->setCurrentItem(lower);
    w->Trees->setDialogTarget(2);
    runModal(Form3, [&] {
      Form3->Edit1->clear();
      QTest::mouseClick(Form3->Button1, Qt::LeftButton);
    });
    QCOMPARE(lower->text(0), QStringLiteral("Порог 0,0"));
    QCOMPARE(Form3->Edit1->text(), QStringLiteral("0,0"));

    runModal(Form3, [&] {
      Form3->Edit1->clear();
      Form3->Edit1->setFocus();
      QTest::keyClicks(Form3->Edit1, QStringLiteral("-8,3"));
      QTest::mouseClick(Form3->Button1, Qt::LeftButton);
    });
    QCOMPARE(lower->text(0), QStringLiteral("Порог -8,3"));

    // Cancel writes nothing; the edit keeps its text for the next opening.
    runModal(Form3, [&] {
      Form3->Edit1->setText(QStringLiteral("77"));
      QTest::mouseClick(Form3->Button2, Qt::LeftButton);
    });
    QCOMPARE(lower->text(0), QStringLiteral("Порог -8,3"));
    QCOMPARE(Form3->Edit1->text(), QStringLiteral("77"));

    // Target 3 writes the sensor tree; target 1 (no thresholds there) writes nothing at all.
    QTreeWidgetItem *sensorUpper = w->Trees->node(3, 69 * 6 + 2);
    w->TreeView3->setCurrentItem(sensorUpper);
    w->Trees->setDialogTarget(3);
    runModal(Form3, [&] { QTest::mouseClick(Form3->Button1, Qt::LeftButton); });
    QCOMPARE(sensorUpper->text(0), QStringLiteral("Порог 77"));
    QCOMPARE(lower->text(0), QStringLiteral("Порог -8,3"));

    QTreeWidgetItem *contact = w->Trees->node(1, 22);
    w->TreeView1->setCurrentItem(contact);
    const QString contactText = contact->text(0);
    w->Trees->setDialogTarget(1);
    runModal(Form3, [&] {
      Form3->Edit1->clear();
      QTest::mouseClick(Form3->Button1, Qt::LeftButton);
    });
    QCOMPARE(Form3->Edit1->text(), QStringLiteral("0,0"));
    QCOMPARE(contact->text(0), contactText);
    QCOMPARE(lower->text(0), QStringLiteral("Порог -8,3"));
    QCOMPARE(sensorUpper->text(0), QStringLiteral("Порог 77"));
  }

  void thresholdOkKeepsEveryStoredValue() {
    // The decoder's text for a stored value, opened in the dialog as the tree does, a key
    // pressed without typing, OK: the caption must read back as the same value.
    const quint32 used = soak::seed("stored floats");
    QRandomGenerator rng(used);
    const float inf = std::numeric_limits<float>::infinity();
    const float fixed[] = {123456790000.0f, 1e-5f, 1.5e-5f, 1e20f, -0.0f, inf, -inf,
                           std::bit_cast<float>(0x7FC00000u), std::bit_cast<float>(0xFFC00000u),
                           std::numeric_limits<float>::max(), -std::numeric_limits<float>::min(),
                           std::numeric_limits<float>::denorm_min(), 12.5f, -8.3f};
    QTreeWidgetItem *lower = w->Trees->node(2, 69 * 4 + 47);
    w->TreeView2->setCurrentItem(lower);
    w->Trees->setDialogTarget(2);
    ModalWatcher watcher;
    const int kRandom = soak::rounds(5000);
    for (int i = 0; i < int(std::size(fixed)) + kRandom; ++i) {
      float f = 0;
      if (i < int(std::size(fixed))) f = fixed[i];
      else if (i % 2) f = std::bit_cast<float>(rng.generate());
      else f = float(rng.bounded(-1000000, 1000000)) / 100.0f;
      const QString shown = trees::thresholdCaption(thresholdText(f));
      lower->setText(0, shown);
      Form3->Edit1->setText(trees::thresholdValue(lower->text(0)));
      Form3->show();
      QTest::keyClick(Form3->Edit1, Qt::Key_End);
      QTest::mouseClick(Form3->Button1, Qt::LeftButton);
      const std::optional<float> back = parseThreshold(trees::thresholdValue(lower->text(0)));
      const bool same = back && (std::isnan(f) ? std::isnan(*back) && std::signbit(*back) == std::signbit(f)
                                               : std::bit_cast<quint32>(*back) == std::bit_cast<quint32>(f));
      if (!same)
        QFAIL(qPrintable(QStringLiteral("seed %1: %2 shown as «%3» became «%4»")
                             .arg(used).arg(std::bit_cast<quint32>(f), 8, 16, QLatin1Char('0'))
                             .arg(shown, lower->text(0))));
    }
    QVERIFY(watcher.boxes.isEmpty());
    QVERIFY(!Form3->isVisible());
  }

  void smsOkWritesTheTextUnchanged() {
    QTreeWidgetItem *message = w->Trees->node(2, 69 * 2 + 45);
    w->TreeView2->setCurrentItem(message);
    w->Trees->setDialogTarget(2);
    runModal(SMS, [&] {
      SMS->Edit21->clear();
      SMS->Edit21->setFocus();
      typeText(SMS->Edit21, QStringLiteral("  Давление & «норма» 100%"));
      QTest::mouseClick(SMS->Button1, Qt::LeftButton);
    });
    QCOMPARE(message->text(0), QStringLiteral("  Давление & «норма» 100%"));

    runModal(SMS, [&] {
      SMS->Edit21->setText(QStringLiteral("другое"));
      QTest::mouseClick(SMS->Button2, Qt::LeftButton);
    });
    QCOMPARE(message->text(0), QStringLiteral("  Давление & «норма» 100%"));

    runModal(SMS, [&] {
      SMS->Edit21->clear();
      QTest::mouseClick(SMS->Button1, Qt::LeftButton);
    });
    QCOMPARE(message->text(0), QString());

    // A target that names no tree writes nothing.
    w->Trees->setDialogTarget(0);
    runModal(SMS, [&] {
      SMS->Edit21->setText(QStringLiteral("x"));
      QTest::mouseClick(SMS->Button1, Qt::LeftButton);
    });
    QCOMPARE(message->text(0), QString());
  }

  void smsEditTakesAnyCharacterUpToThirtyTwo() {
    ModalWatcher watcher;
    SMS->show();
    SMS->Edit21->clear();
    SMS->Edit21->setFocus();
    const QString text = QStringLiteral("Ёж.,-+!?Абв abc 0123456789 XYZ яЯ");  // 33 characters
    QCOMPARE(text.size(), 33);
    typeText(SMS->Edit21, text);
    QCOMPARE(SMS->Edit21->text(), text.left(32));
    QVERIFY(watcher.boxes.isEmpty());
    SMS->hide();
  }

  void thresholdCharacterCheck() {
    ModalWatcher watcher;
    Form3->show();
    QLineEdit *e = Form3->Edit1;
    e->setFocus();
    e->clear();
    QTest::keyClicks(e, QStringLiteral("12"));
    QVERIFY(watcher.boxes.isEmpty());
    QTest::keyClick(e, Qt::Key_Period, Qt::NoModifier);
    QCOMPARE(e->text(), QStringLiteral("12"));
    QCOMPARE(watcher.boxes.size(), 1);
    QCOMPARE(watcher.boxes[0].text, kThresholdMessage);
    QCOMPARE(watcher.boxes[0].icon, QMessageBox::NoIcon);
    QCOMPARE(watcher.boxes[0].title, QGuiApplication::applicationDisplayName());

    // Signs and commas pass wherever they stand; the edit holds ten characters.
    for (const QString &ok : {QStringLiteral("-8,3"), QStringLiteral("1,2,3"), QStringLiteral("-"),
                              QStringLiteral(",")}) {
      e->clear();
      QTest::keyClicks(e, ok);
      QCOMPARE(e->text(), ok);
    }
    e->clear();
    QTest::keyClicks(e, QStringLiteral("1234567890123"));
    QCOMPARE(e->text(), QStringLiteral("1234567890"));
    QCOMPARE(watcher.boxes.size(), 1);

    // Text that came in without a key release is checked at the next one, cut at its first
    // refused character even when allowed ones follow.
    e->setText(QStringLiteral("4 5,5"));
    QCOMPARE(watcher.boxes.size(), 1);
    QTest::keyRelease(e, Qt::Key_Shift);
    QCOMPARE(e->text(), QStringLiteral("4"));
    QCOMPARE(watcher.boxes.size(), 2);
    Form3->hide();
  }

  void telephoneCharacterCheck() {
    ModalWatcher watcher;
    QLineEdit *e = w->phoneEdits[0];
    e->setFocus();
    e->clear();
    QTest::keyClicks(e, QStringLiteral("+7916a"));
    QCOMPARE(e->text(), QStringLiteral("+7916"));
    QCOMPARE(watcher.boxes.size(), 1);
    QCOMPARE(watcher.boxes[0].title, QStringLiteral("Ошибка"));
    QCOMPARE(watcher.boxes[0].text, kPhoneMessage);
    QCOMPARE(watcher.boxes[0].icon, QMessageBox::Critical);

    // Only characters count, not where "+" stands.
    e->clear();
    QTest::keyClicks(e, QStringLiteral("79+16+"));
    QCOMPARE(e->text(), QStringLiteral("79+16+"));
    QCOMPARE(watcher.boxes.size(), 1);

    // Pasted with the keyboard: one message, everything from the blank on dropped.
    e->clear();
    QGuiApplication::clipboard()->setText(QStringLiteral("+7 916 123"));
    QTest::keyClick(e, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(e->text(), QStringLiteral("+7"));
    QCOMPARE(watcher.boxes.size(), 2);

    e->clear();
    QTest::keyClicks(e, QStringLiteral("+7916123456789012345"));
    QCOMPARE(e->text(), QStringLiteral("+791612345678901"));
    QCOMPARE(watcher.boxes.size(), 2);

    // Every one of the nine fields is checked; typing goes on after a refusal.
    for (QLineEdit *field : w->phoneEdits) {
      field->setFocus();
      field->clear();
      QTest::keyClicks(field, QStringLiteral("12x3"));
      QCOMPARE(field->text(), QStringLiteral("123"));
      field->clear();
    }
    QCOMPARE(watcher.boxes.size(), 11);
    // Other fields of the window are not.
    w->Edit1->setFocus();
    w->Edit1->clear();
    QTest::keyClicks(w->Edit1, QStringLiteral("ab"));
    QCOMPARE(w->Edit1->text(), QStringLiteral("ab"));
    QCOMPARE(watcher.boxes.size(), 11);
  }

  void checksRefuseWhatTheSetsDoNotName() {
    // Digits of other scripts and characters beyond the basic plane are refused, not let through.
    const auto r1 = fieldcheck::phone(QStringLiteral("+7٣12"));
    QVERIFY(r1.refused);
    QCOMPARE(r1.text, QStringLiteral("+7"));
    const auto r2 = fieldcheck::threshold(QStringLiteral("1") + QString::fromUcs4(U"\U0001F600") + "2");
    QVERIFY(r2.refused);
    QCOMPARE(r2.text, QStringLiteral("1"));
    const auto r3 = fieldcheck::phone(QString());
    QVERIFY(!r3.refused);
    QVERIFY(r3.text.isEmpty());
    QVERIFY(fieldcheck::threshold(QStringLiteral(".5")).refused);
    QCOMPARE(fieldcheck::threshold(QStringLiteral(".5")).text, QString());
  }
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
