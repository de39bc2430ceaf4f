// Image building blocks without any window: checksum, Windows-1251, text fields, numbers and
// the analog threshold texts.

#include <QRandomGenerator>
#include <QtTest>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "image/Checksum.h"
#include "image/ConfigLayout.h"
#include "image/ControlTable.h"
#include "image/Cp1251.h"
#include "image/ImageNumbers.h"
#include "image/ImageText.h"
#include "image/ReactionTrees.h"
#include "image/ThresholdText.h"
#include "soak.h"

namespace {

std::uint32_t bits(float f) { return std::bit_cast<std::uint32_t>(f); }

QByteArray fieldBytes(const ConfigImageBytes &image, int offset, int width) {
  return QByteArray(reinterpret_cast<const char *>(image.data()) + offset, width);
}

// An independent reading of the same grammar, for cross-checking: glibc's strtof on the text
// with '.' (the C locale is in force in tests).
std::optional<float> referenceParse(const QString &text) {
  QByteArray s = text.toLatin1();
  s.replace(',', '.');
  if (s.isEmpty() || s == "-" || s == "." || s == "-.") return std::nullopt;
  char *end = nullptr;
  errno = 0;
  const float f = std::strtof(s.constData(), &end);
  if (end != s.constData() + s.size()) return std::nullopt;
  if (errno == ERANGE && std::isinf(f)) return std::nullopt;
  return f;
}

}  // namespace

class TestImagePure : public QObject {
  Q_OBJECT
private slots:
  void checksumCases();
  void checksumRefusesEverySingleByteChange();
  void cp1251UpperHalfRoundTrips();
  void cp1251KnownLettersAndUnmapped();
  void textReadingRules();
  void writeTextStaysInsideItsField();
  void numbers();
  void plainThresholdTextExamples();
  void thresholdTextKeepsTheStoredValue();
  void thresholdTextAroundE15_data();
  void thresholdTextAroundE15();
  void parseThresholdForms();
  void parseThresholdRefusesNonNumbers();
  void parseThresholdRangeEnds();
  void specialValues();
  void randomFloatsSurviveTextAndBack();
  void randomDialogTextsMatchReference();
  void imageStepsCoverEveryControlOnce_data();
  void imageStepsCoverEveryControlOnce();
  void imageStepsProgressRises();
};

void TestImagePure::checksumCases() {
  ConfigImageBytes image{};
  QCOMPARE(imageChecksum(image), std::uint8_t(0));
  QVERIFY(checksumMatches(image));

  image.fill(0xFF);
  QCOMPARE(imageChecksum(image), std::uint8_t(0xE6));
  QVERIFY(!checksumMatches(image));  // byte 4122 is 0xFF, not the sum
  storeChecksum(image);
  QCOMPARE(image[layout::kChecksum], std::uint8_t(0xE6));
  QVERIFY(checksumMatches(image));

  image.fill(0);
  for (int i = 0; i < 8; ++i) image[100 + 400 * i] = 0x4E;
  QCOMPARE(imageChecksum(image), std::uint8_t(0x70));
  // The checksum byte itself is not summed.
  image[layout::kChecksum] = 0x70;
  QCOMPARE(imageChecksum(image), std::uint8_t(0x70));
}

void TestImagePure::checksumRefusesEverySingleByteChange() {
  ConfigImageBytes image{};
  QRandomGenerator seeded(soak::seed(__func__));
  auto *rng = &seeded;
  for (auto &b : image) b = std::uint8_t(rng->bounded(256));
  storeChecksum(image);
  QVERIFY(checksumMatches(image));
  for (std::size_t i = 0; i < image.size(); ++i) {
    ConfigImageBytes changed = image;
    changed[i] = std::uint8_t(changed[i] + 1 + rng->bounded(255));  // any other value
    QVERIFY2(!checksumMatches(changed), qPrintable(QString::number(i)));
  }
}

void TestImagePure::cp1251UpperHalfRoundTrips() {
  QSet<char16_t> seen;
  for (int b = 0; b < 256; ++b) {
    const QChar c = cp1251ToUnicode(std::uint8_t(b));
    QVERIFY2(!seen.contains(c.unicode()), qPrintable(QString::number(b, 16)));
    seen.insert(c.unicode());
    QCOMPARE(unicodeToCp1251(c.unicode()), b);
    const char byte = char(b);
    QCOMPARE(toCp1251(fromCp1251(&byte, 1)), QByteArray(1, byte));
  }
}

void TestImagePure::cp1251KnownLettersAndUnmapped() {
  QCOMPARE(cp1251ToUnicode(0xC0), QChar(u'А'));
  QCOMPARE(cp1251ToUnicode(0xFF), QChar(u'я'));
  QCOMPARE(cp1251ToUnicode(0xA8), QChar(u'Ё'));
  QCOMPARE(cp1251ToUnicode(0xB8), QChar(u'ё'));
  QCOMPARE(cp1251ToUnicode(0xB9), QChar(u'№'));
  QCOMPARE(cp1251ToUnicode(0x88), QChar(u'€'));
  QCOMPARE(cp1251ToUnicode(0x98), QChar(char16_t(0x98)));
  QCOMPARE(toCp1251(QStringLiteral("Вход 1 Замкнут")),
           QByteArray("\xC2\xF5\xEE\xE4 1 \xC7\xE0\xEC\xEA\xED\xF3\xF2"));
  QCOMPARE(toCp1251(QStringLiteral("(аб.1)(Д.Ц.)")), QByteArray("(\xE0\xE1.1)(\xC4.\xD6.)"));
  // No code: one '?' per character, a character beyond the BMP included.
  QCOMPARE(toCp1251(QStringLiteral("a中b😀c") + QChar(char16_t(0x99))), QByteArray("a?b?c?"));
  QCOMPARE(toCp1251(QString(QChar(char16_t(0xD800)))), QByteArray("?"));  // lone surrogate
  QCOMPARE(unicodeToCp1251(U'Ä'), -1);
}

void TestImagePure::textReadingRules() {
  const std::uint8_t upTo[] = {'1', '2', 0, '3', 0xC0};
  QCOMPARE(readUpToZero(upTo), QStringLiteral("12"));
  const std::uint8_t full[] = {'+', '7', 0xC0, 0xFF};
  QCOMPARE(readUpToZero(full), QStringLiteral("+7Ая"));
  QCOMPARE(readAllOrNothing(full), QStringLiteral("+7Ая"));
  QCOMPARE(readAllOrNothing(upTo), QString());
  const std::uint8_t lastZero[] = {'A', 'B', 'C', 0};
  QCOMPARE(readAllOrNothing(lastZero), QString());

  // Zero bytes are skipped, not an end: «Вход 1», zero, « Замкнут».
  QByteArray msg = toCp1251(QStringLiteral("Вход 1")) + QByteArray(1, '\0') +
                   toCp1251(QStringLiteral(" Замкнут"));
  msg.append(QByteArray(32 - msg.size(), '\0'));
  const ImageField f(reinterpret_cast<const std::uint8_t *>(msg.constData()), std::size_t(msg.size()));
  QCOMPARE(readNonZero(f), QStringLiteral("Вход 1 Замкнут"));
  const std::uint8_t zeros[4] = {};
  QCOMPARE(readNonZero(zeros), QString());
  QCOMPARE(readUpToZero(zeros), QString());

  ConfigImageBytes image{};
  image[layout::kPhones] = '5';
  QCOMPARE(readUpToZero(imageField(image, layout::kPhones, layout::kPhoneWidth)), QStringLiteral("5"));
}

void TestImagePure::writeTextStaysInsideItsField() {
  ConfigImageBytes image{};
  image.fill(0xAA);
  // Longer than the field: the first 16 characters only; the neighbour (CsdEnabled) untouched.
  const QString centre = QStringLiteral("+79161234567890123456");
  QCOMPARE(writeText(image, layout::kSmsCentre, layout::kSmsCentreWidth, centre), 5);
  QCOMPARE(fieldBytes(image, layout::kSmsCentre, 16), centre.left(16).toLatin1());
  QCOMPARE(image[layout::kSmsCentre - 1], std::uint8_t(0xAA));
  QCOMPARE(image[layout::kCsdEnabled], std::uint8_t(0xAA));

  // Shorter: zero-padded to the field's end.
  QCOMPARE(writeText(image, layout::kPassword, layout::kPasswordWidth, QStringLiteral("Пар")), 0);
  QCOMPARE(fieldBytes(image, layout::kPassword, 8), QByteArray("\xCF\xE0\xF0\0\0\0\0\0", 8));
  QCOMPARE(image[layout::kPassword + 8], std::uint8_t(0xAA));

  // Exactly the width: no zero after it.
  QCOMPARE(writeText(image, layout::kObjectId, 8, QStringLiteral("12345678")), 0);
  QCOMPARE(fieldBytes(image, layout::kObjectId, 9), QByteArray("12345678\xAA"));

  // The last field before the checksum.
  writeText(image, layout::kChecksum - 4, 4, QStringLiteral("abcdefgh"));
  QCOMPARE(image[layout::kChecksum], std::uint8_t(0xAA));
}

void TestImagePure::numbers() {
  ConfigImageBytes image{};
  writeInt16BE(image, 10, -9999);
  QCOMPARE(fieldBytes(image, 10, 2), QByteArray("\xD8\xF1"));
  writeInt16BE(image, 10, -1);
  QCOMPARE(fieldBytes(image, 10, 2), QByteArray("\xFF\xFF"));
  QCOMPARE(readInt16BE(image, 10), std::int16_t(-1));
  writeInt16BE(image, 10, 20);
  QCOMPARE(fieldBytes(image, 10, 2), QByteArray("\x00\x14", 2));
  image[10] = 0x80; image[11] = 0x00;
  QCOMPARE(readInt16BE(image, 10), std::int16_t(-32768));
  image[10] = 0x7F; image[11] = 0xFF;
  QCOMPARE(readInt16BE(image, 10), std::int16_t(32767));

  writeFloatLE(image, layout::analogUpperThreshold(1), 12.5f);
  QCOMPARE(fieldBytes(image, 3404, 4), QByteArray("\x00\x00\x48\x41", 4));
  QCOMPARE(readFloatLE(image, 3404), 12.5f);
  writeFloatLE(image, 20, -0.0f);
  QCOMPARE(readFloatBitsLE(image, 20), 0x80000000u);
}

void TestImagePure::plainThresholdTextExamples() {
  QCOMPARE(plainThresholdText(0.0f), QStringLiteral("0,0"));
  QCOMPARE(plainThresholdText(12.5f), QStringLiteral("12,5"));
  QCOMPARE(plainThresholdText(0.1f), QStringLiteral("0,10000000"));
  QCOMPARE(plainThresholdText(-8.3f), QStringLiteral("-8,3000001"));
  QCOMPARE(plainThresholdText(-12.5f), QStringLiteral("-12,5"));
  QCOMPARE(plainThresholdText(0.0001f), QStringLiteral("9,99999974"));  // the cut corrupts it
  QCOMPARE(plainThresholdText(1e10f), QStringLiteral("1000000000"));
  QCOMPARE(plainThresholdText(-1.51f), QStringLiteral("-1,5099999"));
  QCOMPARE(plainThresholdText(1.5e-5f), QStringLiteral("1,49999996"));
  QCOMPARE(plainThresholdText(1e20f), QStringLiteral("1,00000002"));
  QCOMPARE(plainThresholdText(100.0f), QStringLiteral("100"));
  QCOMPARE(plainThresholdText(0.5f), QStringLiteral("0,5"));
  QCOMPARE(plainThresholdText(0.00025f), QStringLiteral("0,00025000"));  // fixed from 0,0001 up
}

void TestImagePure::thresholdTextKeepsTheStoredValue() {
  // The plain text wherever it reads back...
  QCOMPARE(thresholdText(0.0f), QStringLiteral("0,0"));
  QCOMPARE(thresholdText(12.5f), QStringLiteral("12,5"));
  QCOMPARE(thresholdText(0.1f), QStringLiteral("0,10000000"));
  QCOMPARE(thresholdText(-8.3f), QStringLiteral("-8,3000001"));
  QCOMPARE(thresholdText(9999.0f), QStringLiteral("9999"));
  // ...otherwise the shortest plain decimal that does: never an exponent, which the dialog
  // refuses, however long the text gets.
  QCOMPARE(thresholdText(0.0001f), QStringLiteral("0,0001"));
  QCOMPARE(thresholdText(1e10f), QStringLiteral("10000000000"));
  QCOMPARE(thresholdText(-1.51f), QStringLiteral("-1,51"));
  QCOMPARE(thresholdText(1.5e-5f), QStringLiteral("0,000015"));
  QCOMPARE(thresholdText(1e-5f), QStringLiteral("0,00001"));
  QCOMPARE(thresholdText(1e20f), QStringLiteral("100000000000000000000"));
  QCOMPARE(thresholdText(123456790000.0f), QStringLiteral("123456790000"));
  QCOMPARE(thresholdText(-0.0f), QStringLiteral("-0,0"));
  const QString tiny = thresholdText(-std::numeric_limits<float>::min());
  QCOMPARE(tiny, QStringLiteral("-0,") + QString(37, u'0') + QStringLiteral("11754944"));
  QCOMPARE(bits(*parseThreshold(tiny)), bits(-std::numeric_limits<float>::min()));
  QCOMPARE(thresholdText(std::numeric_limits<float>::max()),
           QStringLiteral("34028235") + QString(31, u'0'));
  // The drift of the cut text: -1,5099999 is the next lower value, not -1,51.
  QVERIFY(bits(*parseThreshold(QStringLiteral("-1,5099999"))) != bits(-1.51f));
}

void TestImagePure::thresholdTextAroundE15_data() {
  // The plain text turns from fixed to exponent notation at 1E15. Floats there are 2^26 apart
  // below 2^50: the float nearest 1E15 is 999999986991104, the next 1000000054099968, and the
  // values between round to one or the other at their midpoint 1000000020545536.
  QTest::addColumn<float>("value");
  QTest::addColumn<QString>("plain");      // fixed below 1E15, exponent from there, cut to 10
  QTest::addColumn<QString>("text");       // the caption's: shortest digits, no exponent
  QTest::addColumn<QStringList>("others"); // other texts of the same float
  QTest::newRow("nearest 1E15, below it")
      << 999999986991104.0f << "9999999869" << "1000000000000000"
      << QStringList{"1E15", "999999986991104", "999999999999999", "1000000020545535"};
  QTest::newRow("first float from 1E15 up")
      << 1000000054099968.0f << "1,00000005" << "1000000050000000"
      << QStringList{"1000000054099968", "1,00000005E15", "1000000030000000", "1000000087654399"};
  // 2^17 * 10^10: its exponent form fits the plain width, and is still not the caption's.
  QTest::newRow("exponent form of 10 characters")
      << 1310720000000000.0f << "1,31072E15" << "1310720000000000"
      << QStringList{"1,31072E15", "1310720000000000,0", "131072E10"};
  QTest::newRow("negative, below")
      << -999999986991104.0f << "-999999986" << "-1000000000000000" << QStringList{"-1E15"};
  QTest::newRow("negative, above")
      << -1310720000000000.0f << "-1,31072E1" << "-1310720000000000" << QStringList{"-1,31072E15"};
}

void TestImagePure::thresholdTextAroundE15() {
  QFETCH(float, value);
  QFETCH(QString, plain);
  QFETCH(QString, text);
  QFETCH(QStringList, others);
  QCOMPARE(plainThresholdText(value), plain);
  // Float -> caption -> float.
  const QString caption = trees::thresholdCaption(thresholdText(value));
  QCOMPARE(caption, QStringLiteral("Порог ") + text);
  const auto back = parseThreshold(trees::thresholdValue(caption));
  QVERIFY(back.has_value());
  QCOMPARE(bits(*back), bits(value));
  // Text -> float -> text: every way of writing the value ends up as the same caption text.
  for (const QString &t : QStringList{text} + others) {
    const auto v = parseThreshold(t);
    QVERIFY2(v.has_value(), qPrintable(t));
    QCOMPARE(bits(*v), bits(value));
    QCOMPARE(thresholdText(*v), text);
  }
}

void TestImagePure::parseThresholdForms() {
  struct Case { const char16_t *text; float value; };
  const Case cases[] = {
      {u"0,0", 0.0f},       {u"00", 0.0f},         {u"12,5", 12.5f},
      {u"-12,5", -12.5f},   {u"1,5E-5", 1.5e-5f},  {u"1E20", 1e20f},
      {u"1e20", 1e20f},     {u"1E+3", 1000.0f},    {u"-8,3000001", -8.3000001f},
      {u",5", 0.5f},        {u"5,", 5.0f},         {u"-,25", -0.25f},
      {u"0,10000000", 0.1f}, {u"9999999999", 1e10f}, {u"007", 7.0f},
  };
  for (const auto &c : cases) {
    const auto v = parseThreshold(QString::fromUtf16(c.text));
    QVERIFY2(v.has_value(), qPrintable(QString::fromUtf16(c.text)));
    QCOMPARE(bits(*v), bits(c.value));
  }
  QCOMPARE(bits(*parseThreshold(QStringLiteral("-0"))), 0x80000000u);
}

void TestImagePure::parseThresholdRefusesNonNumbers() {
  const char16_t *bad[] = {u"-", u",", u"1,2,3", u"", u"-,", u"--1", u"1-", u"1E", u"E5",
                           u"1E-", u"1,5E-5,", u"1.5", u" 1", u"1 ", u"+1", u"1,5E5E5",
                           u"١", u"１", u"INFINITY", u"0x10", u"Порог 1"};
  for (const char16_t *t : bad)
    QVERIFY2(!parseThreshold(QString::fromUtf16(t)).has_value(), qPrintable(QString::fromUtf16(t)));
}

void TestImagePure::parseThresholdRangeEnds() {
  const float maxF = std::numeric_limits<float>::max();
  QCOMPARE(bits(*parseThreshold(QStringLiteral("3,4028235E38"))), bits(maxF));
  QVERIFY(!parseThreshold(QStringLiteral("1E39")).has_value());
  QVERIFY(!parseThreshold(QStringLiteral("-3,5E38")).has_value());
  QVERIFY(!parseThreshold(QStringLiteral("1E999999999999")).has_value());
  // Too small rounds to a zero of the same sign, like any other rounding.
  QCOMPARE(bits(*parseThreshold(QStringLiteral("1E-50"))), 0u);
  QCOMPARE(bits(*parseThreshold(QStringLiteral("-1E-50"))), 0x80000000u);
  QCOMPARE(bits(*parseThreshold(QStringLiteral("0,0000000000000000000000000000000000000000000001"))), 0u);
  QCOMPARE(bits(*parseThreshold(QStringLiteral("1,4E-45"))), 1u);  // smallest subnormal
  QCOMPARE(bits(*parseThreshold(QStringLiteral("0E99999"))), 0u);
}

void TestImagePure::specialValues() {
  const float inf = std::numeric_limits<float>::infinity();
  QCOMPARE(thresholdText(inf), QStringLiteral("INF"));
  QCOMPARE(thresholdText(-inf), QStringLiteral("-INF"));
  QCOMPARE(bits(*parseThreshold(QStringLiteral("INF"))), bits(inf));
  QCOMPARE(bits(*parseThreshold(QStringLiteral("-INF"))), bits(-inf));
  // Any NaN shows as "NAN" and is stored back as the quiet NaN of its sign.
  const float nan = std::bit_cast<float>(0x7F800123u);
  QCOMPARE(thresholdText(nan), QStringLiteral("NAN"));
  QCOMPARE(bits(*parseThreshold(QStringLiteral("NAN"))), 0x7FC00000u);
  const float negNan = std::bit_cast<float>(0xFFC00001u);
  QCOMPARE(thresholdText(negNan), QStringLiteral("-NAN"));
  QCOMPARE(bits(*parseThreshold(QStringLiteral("-NAN"))), 0xFFC00000u);
}

void TestImagePure::randomFloatsSurviveTextAndBack() {
  QRandomGenerator seeded(soak::seed(__func__));
  auto *rng = &seeded;
  for (int i = 0, n = soak::rounds(200000); i < n; ++i) {
    std::uint32_t b = rng->generate();
    if (i % 4 == 1) b = std::bit_cast<std::uint32_t>(float(rng->bounded(-20000, 20000)) / 100.0f);
    if (i % 4 == 2) b = std::bit_cast<std::uint32_t>(float(rng->bounded(-10000, 10000)) / 8.0f);
    const float f = std::bit_cast<float>(b);
    if (std::isnan(f)) continue;
    const QString text = thresholdText(f);
    const auto back = parseThreshold(text);
    QVERIFY2(back.has_value(), qPrintable(text));
    if (bits(*back) != b)
      QFAIL(qPrintable(QStringLiteral("%1 -> %2 -> %3").arg(b, 8, 16).arg(text).arg(bits(*back), 8, 16)));
    QVERIFY2(!text.contains(u'E'), qPrintable(text));
    // Typed values (hundredths, eighths) keep to the dialog's 10 characters.
    if (i % 4 == 1 || i % 4 == 2) QVERIFY2(text.size() <= 10, qPrintable(text));
  }
}

void TestImagePure::randomDialogTextsMatchReference() {
  // Texts of the dialog's alphabet, up to its 10 characters, plus exponent forms.
  QRandomGenerator seeded(soak::seed(__func__));
  auto *rng = &seeded;
  const QString alphabet = QStringLiteral("0123456789,-E");
  int numbers = 0;
  for (int i = 0, n = soak::rounds(100000); i < n; ++i) {
    QString t;
    const int len = int(rng->bounded(11));
    for (int c = 0; c < len; ++c) t.append(alphabet[int(rng->bounded(i % 3 ? 12 : 13))]);
    const auto ours = parseThreshold(t);
    const auto ref = referenceParse(t.contains(u'E') ? QString() : t);
    if (!t.contains(u'E')) {
      QCOMPARE(ours.has_value(), ref.has_value());
    }
    if (ours) {
      ++numbers;
      if (ref) QCOMPARE(bits(*ours), bits(*ref));
      QCOMPARE(bits(*parseThreshold(thresholdText(*ours))), bits(*ours));
    }
  }
  QVERIFY(numbers > 1000);
}

// The one walk both the encoder and the decoder follow: a control left out would never reach
// the image, one named twice would be a slip in the table.
void TestImagePure::imageStepsCoverEveryControlOnce_data() {
  QTest::addColumn<int>("kind");
  QTest::addColumn<QList<int>>("numbers");
  const auto numbersOf = [](auto fields) {
    QList<int> out;
    for (const auto &f : fields) out << f.number;
    std::sort(out.begin(), out.end());
    return out;
  };
  QTest::newRow("spin fields") << int(controls::Step::Spins) << numbersOf(controls::spinFields());
  QTest::newRow("text fields") << int(controls::Step::Texts) << numbersOf(controls::textFields());
  QTest::newRow("check boxes") << int(controls::Step::Checks) << numbersOf(controls::checkFields());
}

void TestImagePure::imageStepsCoverEveryControlOnce() {
  QFETCH(int, kind);
  QFETCH(QList<int>, numbers);
  QList<int> walked;
  for (const controls::ImageStep &step : controls::imageSteps()) {
    if (int(step.step) != kind) continue;
    QVERIFY(step.first <= step.last);
    for (int n = step.first; n <= step.last; ++n) walked << n;
  }
  std::sort(walked.begin(), walked.end());
  QCOMPARE(walked, numbers);
}

void TestImagePure::imageStepsProgressRises() {
  QList<int> points;
  for (const controls::ImageStep &step : controls::imageSteps())
    if (step.step == controls::Step::Progress) points << step.first;
  QVERIFY(!points.isEmpty());
  for (int i = 0; i < points.size(); ++i)
    QVERIFY(points[i] > (i ? points[i - 1] : 0) && points[i] < 100);
  int once = 0;
  for (const controls::ImageStep &step : controls::imageSteps())
    once += step.step == controls::Step::ModeRights || step.step == controls::Step::SmsCentre;
  QCOMPARE(once, 2);
}

QTEST_GUILESS_MAIN(TestImagePure)
#include "tst_image_pure.moc"
