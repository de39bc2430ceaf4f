// Encoder, decoder and configuration files on real main windows: golden bytes of the untouched
// editor and of single conversions, the decoder's caption rules and refusals, round trips of
// random editor states and random images, and files that fail in every way.

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QTreeWidgetItem>
#include <QtTest>

#include <bit>
#include <cmath>
#ifndef Q_OS_WIN
#include <csignal>
#include <sys/resource.h>
#endif

#include "widgets/Unit5.h"
#include "image/ConfigLayout.h"
#include "image/ControlTable.h"
#include "widgets/EditorWidgets.h"
#include "image/ReactionTrees.h"
#include "editor/EditorFiles.h"
#include "editor/TreePanel.h"
#include "editor/Unit1.h"
#include "image/Checksum.h"
#include "image/Cp1251.h"
#include "image/ThresholdText.h"
#include "soak.h"
#include "testsupport.h"

using testsupport::ModalWatcher;

namespace {

QByteArray w1251(const char16_t *text) { return toCp1251(QString::fromUtf16(text)); }
QByteArray w1251(const QString &text) { return toCp1251(text); }

QByteArray bytesAt(const ConfigImageBytes &image, int offset, int width) {
  return QByteArray(reinterpret_cast<const char *>(image.data()) + offset, width);
}
void putBytes(ConfigImageBytes &image, int offset, const QByteArray &bytes) {
  for (int i = 0; i < bytes.size(); ++i) image[offset + i] = std::uint8_t(bytes[i]);
}
void putFloat(ConfigImageBytes &image, int offset, float f) {
  const auto u = std::bit_cast<std::uint32_t>(f);
  for (int i = 0; i < 4; ++i) image[offset + i] = std::uint8_t(u >> (8 * i));
}
std::uint32_t floatBitsAt(const ConfigImageBytes &image, int offset) {
  std::uint32_t u = 0;
  for (int i = 0; i < 4; ++i) u |= std::uint32_t(image[offset + i]) << (8 * i);
  return u;
}
void sealImage(ConfigImageBytes &image) {
  std::uint8_t sum = 0;
  for (int i = 0; i < 4122; ++i) sum = std::uint8_t(sum + image[i]);
  image[4122] = sum;
}

// Everything of the editor that the image carries, for "nothing changed" checks.
QStringList editorState(const TQuorlan *w) {
  QStringList s;
  for (int t = 1; t <= 3; ++t)
    for (int i = 0; i < (t == 1 ? 450 : 552); ++i) s << w->Trees->node(t, i)->text(0);
  for (int n = 1; n <= 28; ++n) s << w->Edit(n)->text();
  for (const auto &f : controls::spinFields()) s << QString::number(w->SpinEdit(f.number)->value());
  for (int n = 1; n <= 24; ++n) s << QString::number(w->CheckBox(n)->isChecked());
  s << QString::number(w->RadioGroup1->itemIndex()) << QString::number(w->RadioGroup2->itemIndex())
    << w->ComboBox2->currentText();
  return s;
}

QString randomText(QRandomGenerator &rng, int maxLen, const QString &alphabet) {
  QString t;
  const int len = int(rng.bounded(maxLen + 1));
  for (int i = 0; i < len; ++i) t.append(alphabet[int(rng.bounded(int(alphabet.size())))]);
  return t;
}

const QString kWords = QStringLiteral("АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯабвгдеёжзийклмнопрстуфхцчшщъыьэюя"
                                      "ABCxyz0123456789 .,:;-+()!?№%");
const QString kDigits = QStringLiteral("0123456789");

// Hidden before it goes, so no child reports its own hiding to a half-destroyed window.
struct HideAndDelete {
  void operator()(TQuorlan *w) const {
    w->hide();
    delete w;
  }
};
using Window = std::unique_ptr<TQuorlan, HideAndDelete>;

// The windows' link: it sees no serial port.
std::unique_ptr<TLink> windowsLink;

// A main window; what its start-up reports (no serial port here) is answered and dropped.
Window newWindow() {
  ModalWatcher startup;
  Window w(new TQuorlan(*windowsLink));
  w->setProgress(Progress);
  return w;
}

}  // namespace

class TestImageCodec : public QObject {
  Q_OBJECT
  TQuorlan *w = nullptr;      // the editor under test
  TQuorlan *other = nullptr;  // a second window to decode into
  QTemporaryDir dir;

  QTreeWidgetItem *node(int tree, int index, TQuorlan *win = nullptr) {
    return (win ? win : w)->Trees->node(tree, index);
  }
  void setCaption(int tree, int index, const QString &c) { node(tree, index)->setText(0, c); }
  QString caption(int tree, int index, TQuorlan *win = nullptr) {
    return node(tree, index, win)->text(0);
  }

  ConfigImageBytes encode(TQuorlan *win) {
    const bool ok = win->mass_out();
    if (!ok) qWarning("mass_out refused");
    Progress->closeWindow();
    win->setEnabled(true);
    return win->OutgoingImage;
  }
  bool decode(TQuorlan *win, const ConfigImageBytes &image) {
    win->IncomingImage = image;
    return win->Load();
  }

  void randomEditor(QRandomGenerator &rng);
  static ConfigImageBytes normalised(const ConfigImageBytes &in);

private slots:
  void initTestCase();
  void cleanupTestCase();
  void init();

  void untouchedEditorGoldenImage();
  void progressAfterEncoding();
  void emptiedArchivePeriodEncodesItsMinimum();
  void treeConversions();
  void controlConversions();
  void smsCentreNeverSpills();
  void badThresholdStopsTheBuild();
  void badThresholdStopsTheBuild_data();

  void checksumMismatchChangesNothing();
  void decoderCaptionRules();
  void decoderThresholds();
  void decoderControls();
  void fieldsKeepEveryCharacterTheImageHolds();

  void randomEditorsRoundTrip();
  void randomImagesNeverCrashAndReencode();

  void saveThenOpen();
  void overwriteReplacesWhole();
  void failingSaveKeepsOldFile();
  void badFilesLeaveEditorUntouched();
  void menuCommandsUseTheDialogs();
};

void TestImageCodec::initTestCase() {
  testsupport::isolateRuntimeDir();
  QVERIFY(dir.isValid());
  Progress = new TProgress;
  windowsLink = testsupport::ownPortsLink();
  other = newWindow().release();
  Quorlan = w = newWindow().release();
  w->show();
  QVERIFY(QTest::qWaitForWindowExposed(w));
  QVERIFY(w->Trees->node(1, 449) && w->Trees->node(3, 551));
}

void TestImageCodec::cleanupTestCase() {
  Window(w).reset();
  Quorlan = nullptr;
  Window(other).reset();
  delete Progress;
  Progress = nullptr;
  windowsLink.reset();
}

void TestImageCodec::init() { testsupport::resetEditor(w); }

// The image of an editor nobody touched, written out byte by byte from the layout.
void TestImageCodec::untouchedEditorGoldenImage() {
  auto freshWindow = newWindow();
    TQuorlan &fresh = *freshWindow;
  const ConfigImageBytes got = encode(&fresh);

  ConfigImageBytes want{};
  auto record = [&](int offset, const QString &message) {
    for (int i = 0; i < 17; ++i) want[offset + i] = 0x4E;
    putBytes(want, offset + 17, w1251(message));
  };
  for (int k = 0; k < 8; ++k) {
    record(98 * k, QStringLiteral("Вход %1 Замкнут").arg(k + 1));
    record(98 * k + 49, QStringLiteral("Вход %1 Разомкнут").arg(k + 1));
  }
  record(98 * 8, QStringLiteral("Контроль питания:Да"));
  record(98 * 8 + 49, QStringLiteral("Контроль питания:Нет"));
  record(98 * 9, QStringLiteral("Смена режима работы:Охрана"));
  record(98 * 9 + 49, QStringLiteral("Смена режима работы:ТО"));
  for (int k = 0; k < 8; ++k) {
    const QString a = QStringLiteral("АЦП %1").arg(k + 1), d = QStringLiteral("Датчик %1").arg(k + 1);
    record(2156 + 147 * k, a + QStringLiteral(" выше нормы"));
    record(2156 + 147 * k + 49, a + QStringLiteral(" норма"));
    record(2156 + 147 * k + 98, a + QStringLiteral(" ниже нормы"));
    record(980 + 147 * k, d + QStringLiteral(" выше нормы"));
    record(980 + 147 * k + 49, d + QStringLiteral(" норма"));
    record(980 + 147 * k + 98, d + QStringLiteral(" ниже нормы"));
    putBytes(want, 3332 + 8 * k, QByteArray("0,0"));
    putBytes(want, 3336 + 8 * k, QByteArray("00"));
    want[3866 + 16 * k + 1] = 20;                          // SignalMax
    putBytes(want, 3866 + 16 * k + 4, QByteArray("\x00\x14", 2));  // RangeMax
  }
  putBytes(want, 3490, w1251(u"Пароль"));
  putBytes(want, 3697, w1251(u"Объект 1"));
  want[3660] = 5;
  want[3661] = 3;
  putBytes(want, 3849, QByteArray("+79168999100"));
  sealImage(want);

  for (std::size_t i = 0; i < want.size(); ++i)
    if (got[i] != want[i]) QFAIL(qPrintable(QStringLiteral("byte %1: %2, expected %3").arg(i).arg(got[i]).arg(want[i])));
  // The two examples spelled out, and stability.
  QCOMPARE(bytesAt(got, 17, 32), w1251(u"Вход 1 Замкнут") + QByteArray(18, '\0'));
  QVERIFY(checksumMatches(got));
  QVERIFY(encode(&fresh) == got);
}

// Emptied by the operator and saved while still in it: the field counts as its minimum.
void TestImageCodec::emptiedArchivePeriodEncodesItsMinimum() {
  TSpinEdit *archive = w->SpinEdit(11);
  archive->setValue(25);
  archive->setFocus();
  QLineEdit *typed = archive->findChild<QLineEdit *>();
  typed->end(false);
  QTest::keyClick(typed, Qt::Key_Backspace);
  QTest::keyClick(typed, Qt::Key_Backspace);
  QVERIFY(typed->text().isEmpty());
  QCOMPARE(TQuorlanProbe(*w).value().spins[11], 0);
  QCOMPARE(encode(w)[layout::kArchivePeriod], std::uint8_t(0));
  archive->setValue(0);
}

void TestImageCodec::progressAfterEncoding() {
  Progress->setPosition(50);
  QVERIFY(w->mass_out());
  QVERIFY(!w->isEnabled());
  QVERIFY(Progress->isShown());
  QCOMPARE(Progress->text(), QStringLiteral("Рассчет массива"));
  QCOMPARE(Progress->position(), 95);
}

void TestImageCodec::treeConversions() {
  auto edWindow = newWindow();
  TQuorlan &ed = *edWindow;
  // Relay state 3 of contact 3's second event.
  ed.Trees->node(1, 117)->setText(0, QStringLiteral("3 - Выключить"));
  ed.Trees->node(1, 3)->setText(0, QStringLiteral("1 - Включить"));
  ed.Trees->node(1, 4)->setText(0, QStringLiteral("2 - Вкл"));               // not a state word
  ed.Trees->node(2, 69 * 7 + 56)->setText(0, QStringLiteral("8 - Включитьxx"));  // compared at length
  // Slots: subscriber 2, empty, dispatcher, subscriber 3 in slots 1 and 9.
  ed.Trees->node(1, 12)->setText(0, QStringLiteral("+79160000002 (аб.2)"));
  ed.Trees->node(1, 13)->setText(0, QStringLiteral("4 - Нет"));
  ed.Trees->node(1, 14)->setText(0, QStringLiteral("+7495 (Д.Ц.)"));
  ed.Trees->node(3, 69 * 2 + 58)->setText(0, QStringLiteral(" (аб.3)"));
  ed.Trees->node(3, 69 * 2 + 66)->setText(0, QStringLiteral("123 (аб.3)"));
  ed.Trees->node(1, 15)->setText(0, QStringLiteral("аб.1)"));                 // shorter than a tag
  // Messages: 40 characters keep 32; empty gives zeros.
  const QString forty = QStringLiteral("Сообщение из сорока знаков, ровно 40 шт.");
  QCOMPARE(forty.size(), 40);
  ed.Trees->node(1, 44)->setText(0, forty);
  ed.Trees->node(2, 23)->setText(0, QString());
  // Thresholds.
  ed.Trees->node(2, 69 + 2)->setText(0, QStringLiteral("Порог 12,5"));
  ed.Trees->node(2, 69 * 4 + 47)->setText(0, QStringLiteral("Порог -12,5"));
  ed.Trees->node(2, 69 * 5 + 2)->setText(0, QStringLiteral("Порог 1,5E-5"));
  ed.Trees->node(2, 69 * 6 + 2)->setText(0, QStringLiteral("Порог 1E20"));
  ed.Trees->node(3, 47)->setText(0, QStringLiteral("Порог -12,5"));
  ed.Trees->node(3, 69 * 3 + 2)->setText(0, QStringLiteral("Порог 25"));
  ed.Trees->node(3, 69 * 3 + 47)->setText(0, QStringLiteral("Порог "));

  const ConfigImageBytes img = encode(&ed);
  QCOMPARE(img[98 * 2 + 49 + 2], std::uint8_t(0x52));
  QCOMPARE(img[247], std::uint8_t(0x52));
  QCOMPARE(img[0], std::uint8_t(0x5A));
  QCOMPARE(img[1], std::uint8_t(0x00));
  QCOMPARE(img[2156 + 147 * 7 + 98 + 7], std::uint8_t(0x5A));
  QCOMPARE(img[8], std::uint8_t(0x32));
  QCOMPARE(img[9], std::uint8_t(0x4E));
  QCOMPARE(img[10], std::uint8_t(0x39));
  QCOMPARE(img[11], std::uint8_t(0x4E));
  QCOMPARE(img[980 + 147 * 2 + 98 + 8], std::uint8_t(0x33));
  QCOMPARE(img[980 + 147 * 2 + 98 + 16], std::uint8_t(0x33));
  QCOMPARE(bytesAt(img, 49 + 17, 32), w1251(forty.left(32)));
  QCOMPARE(img[49 + 17 + 32], std::uint8_t(0x4E));  // next record's first relay untouched
  QCOMPARE(bytesAt(img, 2156 + 17, 32), QByteArray(32, '\0'));
  QCOMPARE(bytesAt(img, 3404, 4), QByteArray("\x00\x00\x48\x41", 4));
  QCOMPARE(floatBitsAt(img, 3400 + 8 * 4), std::bit_cast<std::uint32_t>(-12.5f));
  QCOMPARE(floatBitsAt(img, 3396 + 8 * 5), std::bit_cast<std::uint32_t>(1.5e-5f));
  QCOMPARE(floatBitsAt(img, 3396 + 8 * 6), std::bit_cast<std::uint32_t>(1e20f));
  QCOMPARE(bytesAt(img, 3396, 4), QByteArray(4, '\0'));  // "Порог 0,0"
  QCOMPARE(bytesAt(img, 3336, 4), QByteArray("-12,"));
  QCOMPARE(bytesAt(img, 3332 + 24, 4), QByteArray("25\0\0", 4));
  QCOMPARE(bytesAt(img, 3336 + 24, 4), QByteArray(4, '\0'));
  QCOMPARE(bytesAt(img, 3336 + 8, 4), QByteArray("00\0\0", 4));
  QVERIFY(checksumMatches(img));
}

void TestImageCodec::controlConversions() {
  auto edWindow = newWindow();
  TQuorlan &ed = *edWindow;
  ed.CheckBox(9)->setChecked(true);
  ed.CheckBox(16)->setChecked(true);
  ed.CheckBox(17)->setChecked(true);
  ed.CheckBox(2)->setChecked(true);
  ed.CheckBox(7)->setChecked(true);
  ed.CheckBox(8)->setChecked(true);
  ed.RadioGroup1->setItemIndex(1);
  ed.RadioGroup2->setItemIndex(1);
  ed.SpinEdit(67)->setValue(-1);
  ed.SpinEdit(28)->setValue(-9999);
  ed.SpinEdit(75)->setValue(9998);
  ed.SpinEdit(3)->setValue(255);
  ed.SpinEdit(11)->setValue(254);
  ed.SpinEdit(83)->setValue(7);
  ed.Edit(13)->setText(QStringLiteral("0123456789ABCDE"));   // 15: left out
  ed.Edit(14)->setText(QStringLiteral("0123456789ABCDEF"));  // 16: stored
  ed.Edit(12)->setText(QStringLiteral("12AB"));              // stored as typed
  ed.Edit(11)->setText(QStringLiteral("+74951234567"));
  ed.Edit(28)->setText(QStringLiteral("МПа"));

  ConfigImageBytes img = encode(&ed);
  QCOMPARE(img[3658], std::uint8_t(0x81));
  QCOMPARE(img[3659], std::uint8_t(0x01));
  QCOMPARE(img[3663], std::uint8_t(0x02));
  QCOMPARE(img[3662], std::uint8_t(0x08));
  QCOMPARE(img[3865], std::uint8_t(1));
  QCOMPARE(img[3661], std::uint8_t(0));
  QCOMPARE(bytesAt(img, 3980, 2), QByteArray("\xFF\xFF"));
  QCOMPARE(bytesAt(img, 3868, 2), QByteArray("\xD8\xF1"));
  QCOMPARE(bytesAt(img, 3866 + 16 * 7 + 4, 2), QByteArray("\x27\x0E"));
  QCOMPARE(img[3626], std::uint8_t(255));
  QCOMPARE(img[3641], std::uint8_t(254));
  QCOMPARE(img[4001], std::uint8_t(7));
  QCOMPARE(bytesAt(img, 3498, 16), QByteArray(16, '\0'));
  QCOMPARE(bytesAt(img, 3514, 16), QByteArray("0123456789ABCDEF"));
  QCOMPARE(bytesAt(img, 3642, 16), QByteArray("12AB").append(12, '\0'));
  QCOMPARE(bytesAt(img, 3705 + 16 * 8, 16), QByteArray("+74951234567").append(4, '\0'));
  QCOMPARE(bytesAt(img, 3866 + 16 * 7 + 6, 10), w1251(u"МПа").append(7, '\0'));
  for (int i : {3460, 3489, 3634, 3640, 4002, 4121}) QCOMPARE(img[i], std::uint8_t(0));

  ed.RadioGroup2->setItemIndex(0);
  ed.CheckBox(8)->setChecked(false);
  img = encode(&ed);
  QCOMPARE(img[3661], std::uint8_t(2));
  QCOMPARE(img[3865], std::uint8_t(0));
}

void TestImageCodec::smsCentreNeverSpills() {
  auto edWindow = newWindow();
  TQuorlan &ed = *edWindow;
  ed.CheckBox(8)->setChecked(true);
  ed.ComboBox2->setEditText(QStringLiteral("+791612345678901234567890"));
  const ConfigImageBytes img = encode(&ed);
  QCOMPARE(bytesAt(img, 3849, 16), QByteArray("+791612345678901"));
  QCOMPARE(img[3865], std::uint8_t(1));
  QCOMPARE(img[3866], std::uint8_t(0));
  QCOMPARE(img[3867], std::uint8_t(20));
}

void TestImageCodec::badThresholdStopsTheBuild_data() {
  QTest::addColumn<QString>("value");
  QTest::addColumn<int>("block");
  QTest::addColumn<bool>("lower");
  QTest::newRow("minus") << QStringLiteral("-") << 0 << false;
  QTest::newRow("comma") << QStringLiteral(",") << 2 << false;
  QTest::newRow("two commas") << QStringLiteral("1,2,3") << 2 << true;
  QTest::newRow("empty") << QString() << 7 << true;
}

void TestImageCodec::badThresholdStopsTheBuild() {
  QFETCH(QString, value);
  QFETCH(int, block);
  QFETCH(bool, lower);
  const ConfigImageBytes before = encode(w);
  QTreeWidgetItem *item = node(2, 69 * block + (lower ? 47 : 2));
  const QString saved = item->text(0);
  item->setText(0, QStringLiteral("Порог ") + value);
  w->SpinEdit(1)->setValue(9);  // would change the image if anything were stored
  {
    ModalWatcher boxes;
    QVERIFY(!w->mass_out());
    QCOMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes[0].title, QStringLiteral("Ошибка"));
    QCOMPARE(boxes.boxes[0].icon, QMessageBox::Critical);
    QCOMPARE(boxes.boxes[0].text, QStringLiteral("Неверное значение порога: АЦП %1, %2 порог \"%3\"")
                                      .arg(block + 1).arg(lower ? QStringLiteral("нижний") : QStringLiteral("верхний"), value));
  }
  QVERIFY(w->OutgoingImage == before);
  QVERIFY(w->isEnabled());
  QVERIFY(!Progress->isShown());
  // Saving refuses the same way and writes nothing.
  const QString path = dir.filePath(QStringLiteral("bad-threshold.cfg"));
  {
    ModalWatcher boxes;
    QVERIFY(!TEditorFiles(w, Progress).save(path));
    QCOMPARE(boxes.boxes.size(), 1);
  }
  QVERIFY(!QFile::exists(path));
  item->setText(0, saved);
  w->SpinEdit(1)->setValue(5);
}

void TestImageCodec::checksumMismatchChangesNothing() {
  auto edWindow = newWindow();
  TQuorlan &ed = *edWindow;
  ConfigImageBytes img = encode(&ed);
  img[17] = 'X';
  img[3660] = 77;
  sealImage(img);
  img[4122] = std::uint8_t(img[4122] + 1);
  const QStringList before = editorState(&ed);
  ed.setEnabled(false);
  Progress->showWindow();
  Progress->setPosition(33);
  {
    ModalWatcher boxes;
    QVERIFY(!decode(&ed, img));
    QCOMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes[0].text, QStringLiteral("Ошибка целостности данных"));
    QCOMPARE(boxes.boxes[0].title, QStringLiteral("Ошибка"));
    QCOMPARE(boxes.boxes[0].icon, QMessageBox::Critical);
  }
  QCOMPARE(editorState(&ed), before);
  QVERIFY(!ed.isEnabled());  // left as the caller had it
  QVERIFY(Progress->isShown());
  QCOMPARE(Progress->position(), 33);
}

void TestImageCodec::decoderCaptionRules() {
  auto edWindow = newWindow();
  TQuorlan &ed = *edWindow;
  ed.Trees->node(1, 7)->setText(0, QStringLiteral("5 - Включить"));
  ed.Trees->node(1, 8)->setText(0, QStringLiteral("6 - Включить"));
  ConfigImageBytes img = encode(&ed);
  img[4] = 0x52;  // relay 5: Выключить
  img[5] = 0x00;  // relay 6: unknown code, caption stays
  img[6] = 0x5A;
  putBytes(img, 3705 + 32, QByteArray("+79161112233"));  // subscriber 3
  img[8] = 0x33;             // slot 1: subscriber 3
  img[9] = 0x34;             // slot 2: subscriber 4, whose number is empty
  img[10] = 0x39;            // slot 3: dispatcher
  img[14] = 0x4E;            // slot 7
  img[49 + 14] = 0x00;       // slot 7 of the second event
  img[15] = 0x3A;            // slot 8: not a code
  putBytes(img, 3705 + 128, QByteArray("+74950000000"));
  // «Вход 1», a zero, « Замкнут».
  const QByteArray msg = w1251(u"Вход 1") + QByteArray(1, '\0') + w1251(u" Замкнут");
  putBytes(img, 17, msg + QByteArray(32 - msg.size(), '\0'));
  putBytes(img, 980 + 17, QByteArray(32, '\xC0'));  // a full 32-character message
  sealImage(img);
  QVERIFY(decode(&ed, img));
  QCOMPARE(caption(1, 7, &ed), QStringLiteral("5 - Выключить"));
  QCOMPARE(caption(1, 8, &ed), QStringLiteral("6 - Включить"));
  QCOMPARE(caption(1, 9, &ed), QStringLiteral("7 - Включить"));
  QCOMPARE(caption(1, 12, &ed), QStringLiteral("+79161112233 (аб.3)"));
  QCOMPARE(caption(1, 13, &ed), QStringLiteral(" (аб.4)"));
  QCOMPARE(caption(1, 14, &ed), QStringLiteral("+74950000000 (Д.Ц.)"));
  QCOMPARE(caption(1, 18, &ed), QStringLiteral("7 - Нет"));
  QCOMPARE(caption(1, 40, &ed), QStringLiteral("7 - Нет"));
  QCOMPARE(caption(1, 19, &ed), QStringLiteral("8 - Нет"));
  QCOMPARE(caption(1, 22, &ed), QStringLiteral("Вход 1 Замкнут"));
  QCOMPARE(caption(3, 23, &ed), QString(32, QChar(u'А')));
  // And back: the same bytes wherever the encoder writes them.
  ConfigImageBytes again = encode(&ed);
  QCOMPARE(again[4], std::uint8_t(0x52));
  QCOMPARE(again[5], std::uint8_t(0x5A));  // the caption kept its old state
  QCOMPARE(bytesAt(again, 8, 9), QByteArray("349NNNNNN"));
}

void TestImageCodec::decoderThresholds() {
  auto edWindow = newWindow();
  TQuorlan &ed = *edWindow;
  ConfigImageBytes img = encode(&ed);
  struct Case { float value; const char16_t *caption; };
  const Case cases[] = {
      {0.0f, u"Порог 0,0"},        {12.5f, u"Порог 12,5"},    {0.1f, u"Порог 0,10000000"},
      {-8.3f, u"Порог -8,3000001"}, {0.0001f, u"Порог 0,0001"},  {1e10f, u"Порог 10000000000"},
      {-1.51f, u"Порог -1,51"},     {1.5e-5f, u"Порог 0,000015"},
      {1e20f, u"Порог 100000000000000000000"},
      {std::numeric_limits<float>::infinity(), u"Порог INF"},
      {-std::numeric_limits<float>::infinity(), u"Порог -INF"},
      {std::bit_cast<float>(0x7F812345u), u"Порог NAN"},
      {-0.0f, u"Порог -0,0"},
  };
  const int n = int(std::size(cases));
  QVERIFY(n <= 16);
  for (int i = 0; i < n; ++i) putFloat(img, 3396 + 4 * i, cases[i].value);
  putBytes(img, 3332 + 8 * 5, QByteArray("25\0\0", 4));
  putBytes(img, 3336 + 8 * 5, QByteArray(4, '\0'));
  putBytes(img, 3332 + 8 * 6, QByteArray("\0" "1\0" "2", 4));
  sealImage(img);
  QVERIFY(decode(&ed, img));
  for (int i = 0; i < n; ++i)
    QCOMPARE(caption(2, 69 * (i / 2) + (i % 2 ? 47 : 2), &ed), QString::fromUtf16(cases[i].caption));
  QCOMPARE(caption(3, 69 * 5 + 2, &ed), QStringLiteral("Порог 25"));
  QCOMPARE(caption(3, 69 * 5 + 47, &ed), QStringLiteral("Порог "));
  QCOMPARE(caption(3, 69 * 6 + 2, &ed), QStringLiteral("Порог 12"));

  // Saving again stores every value unchanged; a NaN as the quiet NaN.
  const ConfigImageBytes again = encode(&ed);
  for (int i = 0; i < n; ++i) {
    const std::uint32_t want = std::isnan(cases[i].value) ? 0x7FC00000u : std::bit_cast<std::uint32_t>(cases[i].value);
    QCOMPARE(floatBitsAt(again, 3396 + 4 * i), want);
  }
}

void TestImageCodec::fieldsKeepEveryCharacterTheImageHolds() {
  // Every text field filled to its image width, decoded and saved again: not a byte lost,
  // although less may be typed into some of them (units: 10 held, 6 typed).
  auto edWindow = newWindow();
  TQuorlan &ed = *edWindow;
  ConfigImageBytes img = encode(&ed);
  for (const auto &f : controls::textFields()) {
    const bool words = f.number <= 2 || f.number >= 21;
    QString text;
    for (int i = 0; i < f.width; ++i)
      text += words ? QChar(char16_t(u'а' + (f.number + i) % 32)) : QChar(char16_t(u'0' + (f.number + i) % 10));
    putBytes(img, f.offset, w1251(text));
  }
  sealImage(img);
  QVERIFY(decode(&ed, img));
  for (const auto &f : controls::textFields())
    QCOMPARE(ed.Edit(f.number)->text().size(), qsizetype(f.width));
  const ConfigImageBytes again = encode(&ed);
  for (std::size_t i = 0; i < img.size(); ++i)
    if (img[i] != again[i]) QFAIL(qPrintable(QStringLiteral("byte %1: %2 then %3").arg(i).arg(img[i]).arg(again[i])));
}

void TestImageCodec::decoderControls() {
  auto edWindow = newWindow();
  TQuorlan &ed = *edWindow;
  for (int n = 9; n <= 16; ++n) ed.CheckBox(n)->setChecked(true);
  for (int n = 1; n <= 7; ++n) ed.CheckBox(n)->setChecked(true);
  ConfigImageBytes img = encode(&ed);
  img[3658] = 0x01;
  img[3661] = 2;
  img[3662] = 0xF4;  // bits beyond 0..3 ignored
  img[3663] = 0x01;
  img[3641] = 255;
  img[3866] = 25;
  img[3867] = 200;
  img[3865] = 2;     // only exactly 1 means checked
  putBytes(img, 3866 + 2, QByteArray("\x80\x00", 2));
  putBytes(img, 3866 + 4, QByteArray("\x7F\xFF"));
  putBytes(img, 3866 + 16 * 7 + 2, QByteArray("\xD8\xF1"));
  putBytes(img, 3498, QByteArray("0123456\0" "89ABCDEF", 16));  // a zero inside: empty
  putBytes(img, 3514, QByteArray("FEDCBA9876543210"));
  putBytes(img, 3642, QByteArray("12AB").append(12, '\0'));  // short master key reads empty
  putBytes(img, 3490, QByteArray("\0p\0a\0s\0s", 8));
  putBytes(img, 3866 + 6, w1251(u"Кг").append(8, '\0'));
  putBytes(img, 3849, QByteArray("+7916\0" "999", 9));
  sealImage(img);
  QVERIFY(decode(&ed, img));
  for (int n = 9; n <= 16; ++n) QCOMPARE(ed.CheckBox(n)->isChecked(), n == 9);
  QCOMPARE(ed.RadioGroup1->itemIndex(), 1);
  QCOMPARE(ed.RadioGroup2->itemIndex(), 0);
  QCOMPARE(ed.CheckBox(6)->isChecked(), true);   // bit 2 of 0xF4
  QCOMPARE(ed.CheckBox(4)->isChecked(), false);
  QCOMPARE(ed.CheckBox(1)->isChecked(), true);
  QCOMPARE(ed.CheckBox(2)->isChecked(), false);
  QCOMPARE(ed.CheckBox(8)->isChecked(), false);
  QCOMPARE(ed.SpinEdit(11)->value(), 254);
  QCOMPARE(ed.SpinEdit(12)->value(), 19);
  QCOMPARE(ed.SpinEdit(20)->value(), 20);
  QCOMPARE(ed.SpinEdit(28)->value(), -9999);
  QCOMPARE(ed.SpinEdit(68)->value(), 9998);
  QCOMPARE(ed.SpinEdit(67)->value(), -9999);
  QCOMPARE(ed.Edit(13)->text(), QString());
  QCOMPARE(ed.Edit(14)->text(), QStringLiteral("FEDCBA9876543210"));
  QCOMPARE(ed.Edit(12)->text(), QString());
  QCOMPARE(ed.Edit(2)->text(), QStringLiteral("pass"));
  QCOMPARE(ed.Edit(21)->text(), QStringLiteral("Кг"));
  QCOMPARE(ed.ComboBox2->currentText(), QStringLiteral("+7916"));
  // Finished: progress closed at 100, window usable.
  QVERIFY(!Progress->isShown());
  QCOMPARE(Progress->position(), 100);
  QVERIFY(ed.isEnabled());

  // A mode byte the editor does not offer keeps the current choice.
  img[3661] = 7;
  sealImage(img);
  ed.RadioGroup1->setItemIndex(0);
  ed.RadioGroup2->setItemIndex(1);
  QVERIFY(decode(&ed, img));
  QCOMPARE(ed.RadioGroup1->itemIndex(), 0);
  QCOMPARE(ed.RadioGroup2->itemIndex(), 1);
}

void TestImageCodec::randomEditor(QRandomGenerator &rng) {
  for (const auto &f : controls::spinFields())
    w->SpinEdit(f.number)->setValue(int(rng.bounded(f.min, f.max + 1)));
  for (int n = 1; n <= 24; ++n) w->CheckBox(n)->setChecked(rng.bounded(2));
  w->RadioGroup1->setItemIndex(int(rng.bounded(2)));
  w->RadioGroup2->setItemIndex(int(rng.bounded(2)));
  w->Edit(1)->setText(randomText(rng, 8, kWords));
  w->Edit(2)->setText(randomText(rng, 8, kWords));
  for (int n = 3; n <= 11; ++n) w->Edit(n)->setText((rng.bounded(4) ? QStringLiteral("+") : QString()) + randomText(rng, 15, kDigits));
  // A master key reads back only when complete, so it is complete or absent here.
  w->Edit(12)->clear();
  if (rng.bounded(2)) {
    QString key;
    for (int i = 0; i < 16; ++i) key += QStringLiteral("0123456789ABCDEF")[int(rng.bounded(16))];
    w->Edit(12)->setText(key);
  }
  for (int n = 13; n <= 20; ++n) {
    QString id;
    const int len = rng.bounded(3) ? 16 : int(rng.bounded(16));
    for (int i = 0; i < len; ++i) id += QStringLiteral("0123456789ABCDEF")[int(rng.bounded(16))];
    w->Edit(n)->setText(id);
  }
  for (int n = 21; n <= 28; ++n) w->Edit(n)->setText(randomText(rng, 6, kWords));
  w->ComboBox2->setEditText(QStringLiteral("+") + randomText(rng, 20, kDigits));

  const QString words[] = {trees::kSwitchOn, trees::kSwitchOff, trees::kLeaveAlone};
  const auto reactions = [&](int tree, int base, int relays, int phoneSlots, int message) {
    for (int r = 0; r < 8; ++r)
      setCaption(tree, base + relays + r, trees::relayStateCaption(r + 1, words[rng.bounded(3)]));
    for (int s = 0; s < 9; ++s) {
      const int t = int(rng.bounded(10));
      setCaption(tree, base + phoneSlots + s,
                 t == 0   ? trees::emptySlotCaption(s + 1)
                 : t == 9 ? trees::dispatcherSlotCaption(w->Edit(11)->text())
                          : trees::subscriberSlotCaption(w->Edit(2 + t)->text(), t));
    }
    setCaption(tree, base + message, randomText(rng, rng.bounded(8) ? 32 : 40, kWords));
  };
  for (int k = 0; k < 10; ++k) {
    reactions(1, 45 * k, 3, 12, 22);
    reactions(1, 45 * k, 25, 34, 44);
  }
  for (int tree = 2; tree <= 3; ++tree)
    for (int k = 0; k < 8; ++k) {
      reactions(tree, 69 * k, 4, 13, 23);
      reactions(tree, 69 * k, 26, 35, 45);
      reactions(tree, 69 * k, 49, 58, 68);
      for (int at : {2, 47}) {
        QString value;
        if (tree == 3) {
          value = randomText(rng, 10, QStringLiteral("0123456789,-"));
        } else {
          switch (rng.bounded(3)) {
            case 0: value = thresholdText(float(rng.bounded(-100000, 100000)) / 100.0f); break;
            case 1: {
              float f;
              do f = std::bit_cast<float>(std::uint32_t(rng.generate())); while (std::isnan(f));
              value = thresholdText(f);
              break;
            }
            default:
              do value = randomText(rng, 10, QStringLiteral("0123456789,-")); while (!parseThreshold(value));
          }
        }
        setCaption(tree, 69 * k + at, QStringLiteral("Порог ") + value);
      }
    }
}

void TestImageCodec::randomEditorsRoundTrip() {
  QRandomGenerator rng(soak::seed("round trips"));
  const int kRounds = soak::rounds(60);
  for (int round = 0; round < kRounds; ++round) {
    randomEditor(rng);
    const ConfigImageBytes first = encode(w);
    QVERIFY(decode(other, first));
    const ConfigImageBytes second = encode(other);
    for (std::size_t i = 0; i < first.size(); ++i)
      if (first[i] != second[i])
        QFAIL(qPrintable(QStringLiteral("round %1, byte %2: %3 then %4").arg(round).arg(i).arg(first[i]).arg(second[i])));
    // A freshly created window gives the same as one that held another configuration.
    if (round % 20 == 0) {
      auto freshWindow = newWindow();
    TQuorlan &fresh = *freshWindow;
      QVERIFY(decode(&fresh, first));
      QVERIFY(encode(&fresh) == first);
    }
  }
  qInfo("round trips: %d", kRounds);
}

// What an arbitrary image becomes after one pass through a window that starts from the
// untouched editor, written out from the decoder's rules.
ConfigImageBytes TestImageCodec::normalised(const ConfigImageBytes &in) {
  ConfigImageBytes out{};
  const auto record = [&](int r) {
    for (int i = 0; i < 8; ++i) {
      const std::uint8_t b = in[r + i];
      out[r + i] = b == 0x5A || b == 0x52 || b == 0x4E ? b : 0x4E;  // untouched captions say N
    }
    for (int i = 8; i < 17; ++i) out[r + i] = in[r + i] >= 0x31 && in[r + i] <= 0x39 ? in[r + i] : 0x4E;
    int o = r + 17;
    for (int i = 17; i < 49; ++i)
      if (in[r + i]) out[o++] = in[r + i];
  };
  const auto nonZero = [&](int off, int width, int keep) {
    int o = off;
    for (int i = 0; i < width; ++i)
      if (in[off + i] && o < off + keep) out[o++] = in[off + i];
  };
  const auto upToZero = [&](int off, int width) {
    for (int i = 0; i < width && in[off + i]; ++i) out[off + i] = in[off + i];
  };
  const auto allOrNothing = [&](int off, int width) {
    for (int i = 0; i < width; ++i)
      if (!in[off + i]) return;
    for (int i = 0; i < width; ++i) out[off + i] = in[off + i];
  };
  const auto clampByte = [&](int off, int hi) { out[off] = std::uint8_t(std::min<int>(in[off], hi)); };
  const auto clamp16 = [&](int off) {
    const int v = std::clamp<int>(std::int16_t(in[off] << 8 | in[off + 1]), -9999, 9998);
    out[off] = std::uint8_t(std::uint16_t(v) >> 8);
    out[off + 1] = std::uint8_t(v);
  };
  for (int k = 0; k < 10; ++k) { record(98 * k); record(98 * k + 49); }
  for (int k = 0; k < 16; ++k) for (int e = 0; e < 3; ++e) record(980 + 147 * k + 49 * e);
  for (int k = 0; k < 16; ++k) nonZero(3332 + 4 * k, 4, 4);
  for (int k = 0; k < 16; ++k) {
    const int off = 3396 + 4 * k;
    std::uint32_t u = floatBitsAt(in, off);
    if (std::isnan(std::bit_cast<float>(u))) u = (u & 0x80000000u) | 0x7FC00000u;
    for (int i = 0; i < 4; ++i) out[off + i] = std::uint8_t(u >> (8 * i));
  }
  nonZero(3490, 8, 8);
  for (int k = 0; k < 8; ++k) allOrNothing(3498 + 16 * k, 16);
  for (int i = 3626; i < 3634; ++i) out[i] = in[i];
  clampByte(3641, 254);
  allOrNothing(3642, 16);
  out[3658] = in[3658];
  out[3659] = in[3659];
  out[3660] = in[3660];
  out[3661] = in[3661] <= 3 ? in[3661] : 3;
  out[3662] = in[3662] & 0x0F;
  out[3663] = in[3663] & 0x07;
  for (int i = 3664; i < 3697; ++i) out[i] = in[i];
  nonZero(3697, 8, 8);
  for (int n = 0; n < 10; ++n) upToZero(3705 + 16 * n, 16);  // the SMS centre follows the phones
  out[3865] = in[3865] == 1;
  for (int a = 0; a < 8; ++a) {
    const int r = 3866 + 16 * a;
    clampByte(r, 19);
    clampByte(r + 1, 20);
    clamp16(r + 2);
    clamp16(r + 4);
    nonZero(r + 6, 10, 10);
  }
  for (int i = 3994; i < 4002; ++i) out[i] = in[i];
  sealImage(out);
  return out;
}

void TestImageCodec::randomImagesNeverCrashAndReencode() {
  QRandomGenerator rng(soak::seed("random images"));
  for (int round = 0, n = soak::rounds(40); round < n; ++round) {
    auto freshWindow = newWindow();
    TQuorlan &fresh = *freshWindow;
    ConfigImageBytes img;
    for (auto &b : img) {
      // Mostly plausible codes, often zeros, sometimes anything.
      const int pick = int(rng.bounded(8));
      b = pick == 0 ? 0 : pick == 1 ? 0x4E : pick == 2 ? std::uint8_t(0x31 + rng.bounded(9)) : std::uint8_t(rng.bounded(256));
    }
    sealImage(img);
    QVERIFY(decode(&fresh, img));
    const ConfigImageBytes got = encode(&fresh), want = normalised(img);
    for (std::size_t i = 0; i < got.size(); ++i)
      if (got[i] != want[i])
        QFAIL(qPrintable(QStringLiteral("round %1, byte %2: %3, expected %4 (image %5)").arg(round).arg(i).arg(got[i]).arg(want[i]).arg(img[i])));
  }
}

void TestImageCodec::saveThenOpen() {
  QRandomGenerator rng(99);
  randomEditor(rng);
  const QString path = dir.filePath(QStringLiteral("конфигурация без расширения"));
  QVERIFY(TEditorFiles(w, Progress).save(path));
  QVERIFY(w->isEnabled());
  QVERIFY(!Progress->isShown());
  QFile f(path);
  QVERIFY(f.open(QIODevice::ReadOnly));
  const QByteArray data = f.readAll();
  QCOMPARE(data.size(), 4123);
  QCOMPARE(data, bytesAt(w->OutgoingImage, 0, 4123));

  const ConfigImageBytes outgoing = other->OutgoingImage;
  QVERIFY(TEditorFiles(other, Progress).open(path));
  QVERIFY(other->OutgoingImage == outgoing);  // opening never touches it
  QVERIFY(encode(other) == w->OutgoingImage);
}

void TestImageCodec::overwriteReplacesWhole() {
  const QString path = dir.filePath(QStringLiteral("over.cfg"));
  {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(10000, 'x'));
  }
  ModalWatcher boxes;
  QVERIFY(TEditorFiles(w, Progress).save(path));
  QCOMPARE(boxes.boxes.size(), 0);
  QFile f(path);
  QVERIFY(f.open(QIODevice::ReadOnly));
  QCOMPARE(f.readAll(), bytesAt(w->OutgoingImage, 0, 4123));
}

void TestImageCodec::failingSaveKeepsOldFile() {
  const QString path = dir.filePath(QStringLiteral("old.cfg"));
  const QByteArray old(5000, 'o');
  {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(old);
  }
#ifndef Q_OS_WIN  // Windows has no file size limit to fill a disk with
  const auto readAll = [](const QString &p) {
    QFile f(p);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  };

  // A disk that fills up half-way: the size limit makes the write fail as root too.
  struct rlimit saved {};
  QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
  std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 1000;
  QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
  bool ok;
  QList<ModalWatcher::Seen> seen;
  {
    ModalWatcher boxes;
    ok = TEditorFiles(w, Progress).save(path);
    seen = boxes.boxes;
  }
  QCOMPARE(setrlimit(RLIMIT_FSIZE, &saved), 0);
  QVERIFY(!ok);
  QCOMPARE(seen.size(), 1);
  QCOMPARE(seen[0].title, QStringLiteral("Ошибка"));
  QVERIFY2(seen[0].text.contains(QStringLiteral("old.cfg")), qPrintable(seen[0].text));
  QVERIFY(!seen[0].informative.isEmpty());
  QCOMPARE(readAll(path), old);
  QVERIFY(w->isEnabled());
  QVERIFY(!Progress->isShown());
  QCOMPARE(QDir(dir.path()).entryList(QDir::Files).filter(QStringLiteral("old.cfg")).size(), 1);  // no leftovers
#endif

  // A folder that is gone, and a folder where the file should be.
  for (const QString &p : {dir.filePath(QStringLiteral("missing/x.cfg")), dir.path()}) {
    ModalWatcher boxes;
    QVERIFY(!TEditorFiles(w, Progress).save(p));
    QCOMPARE(boxes.boxes.size(), 1);
    QVERIFY(w->isEnabled());
    QVERIFY(!Progress->isShown());
  }
  QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("missing"))));
}

void TestImageCodec::badFilesLeaveEditorUntouched() {
  auto edWindow = newWindow();
  TQuorlan &ed = *edWindow;
  const ConfigImageBytes good = encode(w);  // a different configuration than ed's
  const QStringList before = editorState(&ed);
  ed.IncomingImage.fill(0x5A);
  const auto write = [&](const QString &name, const QByteArray &data) {
    const QString p = dir.filePath(name);
    QFile f(p);
    if (!f.open(QIODevice::WriteOnly)) qWarning("cannot write %s", qPrintable(p));
    f.write(data);
    return p;
  };
  const QByteArray image = bytesAt(good, 0, 4123);
  QByteArray corrupted = image;
  corrupted[2000] = char(corrupted[2000] ^ 1);

  struct Bad { QString path; QString expect; };
  const Bad bad[] = {
      {write(QStringLiteral("short.cfg"), image.left(4122)), QStringLiteral("Ошибка чтения файла")},
      {write(QStringLiteral("empty.cfg"), QByteArray()), QStringLiteral("Ошибка чтения файла")},
      {write(QStringLiteral("corrupt.cfg"), corrupted), QStringLiteral("Ошибка целостности данных")},
      {dir.filePath(QStringLiteral("nowhere.cfg")), QStringLiteral("Не удалось открыть файл")},
      {dir.path(), QStringLiteral("Не удалось открыть файл")},
  };
  for (const Bad &b : bad) {
    const ConfigImageBytes incoming = ed.IncomingImage;
    ModalWatcher boxes;
    QVERIFY(!TEditorFiles(&ed, Progress).open(b.path));
    QCOMPARE(boxes.boxes.size(), 1);
    QVERIFY2(boxes.boxes[0].text.startsWith(b.expect), qPrintable(boxes.boxes[0].text));
    QCOMPARE(boxes.boxes[0].title, QStringLiteral("Ошибка"));
    QCOMPARE(editorState(&ed), before);
    if (!b.expect.contains(QStringLiteral("целостности"))) {
      QVERIFY(boxes.boxes[0].text.contains(QDir::toNativeSeparators(b.path)));
      QVERIFY(!boxes.boxes[0].informative.isEmpty());
      QVERIFY(ed.IncomingImage == incoming);
    }
  }

  // Longer: the first 4123 bytes count, the rest is ignored.
  const QString longer = write(QStringLiteral("long.cfg"), image + QByteArray(777, '\x11'));
  ModalWatcher boxes;
  QVERIFY(TEditorFiles(&ed, Progress).open(longer));
  QCOMPARE(boxes.boxes.size(), 0);
  QVERIFY(ed.IncomingImage == good);
  QVERIFY(encode(&ed) == good);
}

void TestImageCodec::menuCommandsUseTheDialogs() {
  const QString path = dir.filePath(QStringLiteral("via-dialog"));
  QFile::remove(path);
  bool confirm = true;
  const auto answer = [&](const QString &file) {
    return [&, file](QWidget *modal) {
      if (auto *d = qobject_cast<QFileDialog *>(modal)) {
        confirm = !d->testOption(QFileDialog::DontConfirmOverwrite);
        // Typed into the name field and confirmed, as the operator would.
        if (auto *name = d->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))) name->setText(file);
        static_cast<QDialog *>(d)->accept();
      } else {
        modal->close();
      }
    };
  };
  for (int pass = 0; pass < 2; ++pass) {  // the second pass overwrites without a question
    ModalWatcher watcher;
    watcher.onOtherModal = answer(path);
    w->mmSaveClick();
    QCOMPARE(watcher.boxes.size(), 0);
    QVERIFY(!confirm);
  }
  QCOMPARE(QFileInfo(path).size(), 4123);

  auto edWindow = newWindow();
  TQuorlan &ed = *edWindow;
  {
    ModalWatcher watcher;
    watcher.onOtherModal = answer(path);
    ed.mmOpenClick();
    QCOMPARE(watcher.boxes.size(), 0);
  }
  QVERIFY(encode(&ed) == w->OutgoingImage);

  // Cancel: nothing happens.
  const QStringList before = editorState(&ed);
  ed.IncomingImage.fill(1);
  {
    ModalWatcher cancel;
    cancel.onOtherModal = [](QWidget *modal) {
      if (auto *d = qobject_cast<QDialog *>(modal)) d->reject();
    };
    ed.mmOpenClick();
    w->mmSaveClick();
    QCOMPARE(cancel.boxes.size(), 0);
  }
  QCOMPARE(editorState(&ed), before);
  QCOMPARE(ed.IncomingImage[0], std::uint8_t(1));
  QVERIFY(w->isEnabled());
}

QTEST_MAIN(TestImageCodec)
#include "tst_image_codec.moc"
