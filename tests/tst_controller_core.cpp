// The simulated controller on a virtual clock: its 9600-baud timing is exact however late it is
// woken, every fault does what it says, and odd input (late lines, pipelined payloads, numbers
// that overflow, random bytes) leaves it answering.
#include <QtTest>

#include <cmath>
#include <optional>
#include <random>

#include "ControllerCore.h"
#include "soak.h"

using korvel::ControllerCore;
using korvel::Options;

namespace {

constexpr double kC = korvel::kCharMs;

std::uint32_t testSeed() { return soak::seed("controller core"); }

std::optional<Options> withFaults(const QStringList &names, bool pace = false) {
  Options o;
  o.pace = pace;
  for (const QString &s : names) {
    std::string why;
    const auto f = korvel::parseFault(s.toStdString(), &why);
    if (!f) {
      qWarning("%s: %s", qPrintable(s), why.c_str());
      return std::nullopt;
    }
    o.faults.push_back(*f);
  }
  return o;
}

std::string imageBytes(const sim::Image &image) { return std::string(image.begin(), image.end()); }

// The configurator's side of the line on a virtual clock that wakes exactly when the controller
// has something due. Records what arrived and when; onByte may answer each arriving byte.
struct Rig {
  ControllerCore core;
  double now = 0;
  std::string out;
  std::vector<double> times;   // arrival time of each byte of out
  std::function<std::string(char)> onByte;
  QStringList log;

  explicit Rig(Options o = {}) : core(std::move(o), sim::defaultImage()) {
    core.setLog([this](const std::string &l) { log << QString::fromStdString(l); });
    core.tick(now);
    take();
  }
  void send(const std::string &s) {
    core.received(reinterpret_cast<const std::uint8_t *>(s.data()), s.size(), now);
    take();
  }
  void take() {
    for (;;) {
      const std::string s = core.takeOutput(now);
      if (s.empty()) return;
      std::string answer;
      for (char c : s) {
        out += c;
        times.push_back(now);
        if (onByte) answer += onByte(c);
      }
      if (!answer.empty()) core.received(reinterpret_cast<const std::uint8_t *>(answer.data()), answer.size(), now);
    }
  }
  void run(double ms) {
    const double until = now + ms;
    while (core.nextDueMs() <= until) {
      now = std::max(now, core.nextDueMs());
      core.tick(now);
      take();
    }
    now = until;
    core.tick(now);
    take();
  }
  bool handshake() {
    run(50);
    send("PC\r\n");
    run(50);
    send("PC_OK\r\n");
    run(50);
    const bool ok = out.find("ATI\r\n") != std::string::npos && out.find("Ver.2.10\r\n") != std::string::npos;
    clear();
    return ok;
  }
  void clear() {
    out.clear();
    times.clear();
  }
  QList<QByteArray> lines() const {
    QList<QByteArray> l = QByteArray::fromStdString(out).split('\n');
    l.removeLast();   // what follows the last line end
    for (QByteArray &x : l) x.chop(1);
    return l;
  }
  // SAVE stop-and-wait as the configurator does it: byte 0 on the echo, each further byte on
  // an "o", the 0x00 after the image. *firstSent: when byte 0 went out.
  void save(const sim::Image &image, double *firstSent = nullptr) {
    const std::string data = imageBytes(image) + '\0';
    auto next = std::make_shared<std::size_t>(0);
    auto seen = std::make_shared<std::string>();
    onByte = [=, this](char c) -> std::string {
      if (*next == 0) {
        *seen += c;
        if (seen->size() < 6 || seen->compare(seen->size() - 6, 6, "SAVE\r\n") != 0) return {};
        if (firstSent) *firstSent = now;
      } else if (c != 'o' || *next >= data.size()) {
        return {};
      }
      return std::string(1, data[(*next)++]);
    };
    send("SAVE\r\n");
  }
};

sim::Image changedImage() {
  sim::Image img = sim::defaultImage();
  img[3697] = 'Z';
  img[4122] = sim::checksumOf(img);
  return img;
}

}  // namespace

class TstControllerCore : public QObject {
  Q_OBJECT

private slots:
  void pacingKeepsAnAbsoluteSchedule();
  void transfers_data();
  void transfers();
  void commandReplies_data();
  void commandReplies();
  void delaysAndUnsolicitedLines();
  void inputFraming();
  void vanishing();
  void faultSpellings();
  void randomInputLeavesItAnswering();
};

void TstControllerCore::pacingKeepsAnAbsoluteSchedule() {
  Options o;
  o.pace = true;
  Rig r(o);
  QVERIFY(r.handshake());

  // A command line is there once its last character has crossed; the reply follows at once.
  const double asked = r.now;
  r.send("TM\r\n");
  r.run(100);
  QCOMPARE(r.lines(), QList<QByteArray>{"0A00001B2C3D4E5F"});
  QVERIFY(std::abs(r.times.front() - (asked + 4 * kC + kC)) < 1e-6);
  QVERIFY(std::abs(r.times.back() - (asked + 4 * kC + 18 * kC)) < 1e-6);

  // The write exchange: 4124 bytes out and 4123 acknowledgements back, strictly alternating.
  r.clear();
  double first = -1;
  r.save(changedImage(), &first);
  r.run(10000);
  QVERIFY(r.out.ends_with("oSAVE_OK\r\n"));
  QCOMPARE(r.core.saveBytesReceived(), std::size_t(4124));
  const double lastAck = r.times.at(r.out.rfind('o'));
  const double exchange = lastAck + kC - first;   // until the 0x00 has crossed
  QVERIFY2(std::abs(exchange - 8247 * kC) <= kC, qPrintable(QString::number(exchange)));   // 8.59 s

  // A stream read while the caller wakes up late each time: each character still leaves at
  // its own time, one character after the one before, so the last one is not late at all.
  std::mt19937 rng(testSeed());
  std::uniform_real_distribution<double> late(0.0, 3.0);
  r.clear();
  const double end = r.now + (6 + 6 + 4123 + 9) * kC;
  r.send("LOAD\r\n");
  for (double due; (due = r.core.nextDueMs()) < end - 3;) {
    r.now = std::max(r.now, due + late(rng));
    r.core.tick(r.now);
    r.take();
  }
  r.now = end - 0.001;
  r.take();
  QCOMPARE(r.out.size(), std::size_t(6 + 4123 + 9 - 1));
  r.now = end;
  r.take();
  QCOMPARE(r.out, "LOAD\r\n" + imageBytes(changedImage()) + "LOAD_OK\r\n");
}

void TstControllerCore::transfers_data() {
  QTest::addColumn<QString>("command");
  QTest::addColumn<QStringList>("faults");
  QTest::addColumn<QByteArray>("expected");
  QTest::addColumn<int>("received");   // SAVE: bytes the controller took, with the 0x00
  QTest::addColumn<bool>("stored");

  const QByteArray acks(4123, 'o');
  const QByteArray img = QByteArray::fromStdString(imageBytes(changedImage()));
  const QByteArray oldImg = QByteArray::fromStdString(imageBytes(sim::defaultImage()));
  QTest::newRow("save") << "SAVE" << QStringList{} << "SAVE\r\n" + acks + "SAVE_OK\r\n" << 4124 << true;
  QTest::newRow("refused byte") << "SAVE" << QStringList{"refuse-byte:100"} << "SAVE\r\n" + acks.left(100) + "e"
                                << 101 << false;
  QTest::newRow("err2") << "SAVE" << QStringList{"err2"} << "SAVE\r\n" + acks + "ERR2\r\n" << 4124 << false;
  QTest::newRow("no confirmation") << "SAVE" << QStringList{"no-save-reply"} << "SAVE\r\n" + acks << 4124 << false;
  QTest::newRow("acks stop") << "SAVE" << QStringList{"stop-after:50"} << "SAVE\r\n" + acks.left(50) << 51 << false;
  QTest::newRow("stray before ack") << "SAVE" << QStringList{"stray-before-ack:10:??"}
                                    << "SAVE\r\n" + acks.left(10) + "??" + acks.mid(10) + "SAVE_OK\r\n" << 4124 << true;
  // The extra "o" draws one byte early: the image still arrives whole, in order.
  QTest::newRow("double ack") << "SAVE" << QStringList{"double-ack:7"} << "SAVE\r\n" + acks + "o" + "SAVE_OK\r\n"
                              << 4124 << true;
  QTest::newRow("ERR2 for the echo") << "SAVE" << QStringList{"reply:SAVE:ERR2"} << QByteArray("ERR2\r\n") << 0 << false;
  QTest::newRow("ERR2 before the echo") << "SAVE" << QStringList{"inject:SAVE:0:ERR2"}
                                        << "ERR2\r\nSAVE\r\n" + acks + "SAVE_OK\r\n" << 4124 << true;
  QTest::newRow("save not echoed") << "SAVE" << QStringList{"no-echo"} << QByteArray() << 0 << false;

  QTest::newRow("load") << "LOAD" << QStringList{} << "LOAD\r\n" + oldImg + "LOAD_OK\r\n" << 0 << false;
  QTest::newRow("no LOAD_OK") << "LOAD" << QStringList{"no-load-ok"} << "LOAD\r\n" + oldImg << 0 << false;
  QTest::newRow("stream stops") << "LOAD" << QStringList{"stop-after:4000:LOAD", "stop-after:5:SAVE"}
                                << "LOAD\r\n" + oldImg.left(4000) << 0 << false;
  QTest::newRow("stray in stream") << "LOAD" << QStringList{"stray-in-load:10:X", "stray-in-load:4122"}
                                   << "LOAD\r\n" + oldImg.left(11) + "X" + oldImg.mid(11) + "?LOAD_OK\r\n" << 0 << false;
  QTest::newRow("line after echo") << "LOAD" << QStringList{"inject:LOAD:1:ATI"}
                                   << "LOAD\r\nATI\r\n" + oldImg + "LOAD_OK\r\n" << 0 << false;
  QTest::newRow("load not echoed") << "LOAD" << QStringList{"no-echo:LOAD", "no-echo:SAVE"} << QByteArray() << 0 << false;
}

void TstControllerCore::transfers() {
  QFETCH(QString, command);
  QFETCH(QStringList, faults);
  QFETCH(QByteArray, expected);
  QFETCH(int, received);
  QFETCH(bool, stored);
  const auto o = withFaults(faults);
  QVERIFY(o);
  Rig r(*o);
  QVERIFY(r.handshake());
  if (command == "SAVE") r.save(changedImage());
  else r.send("LOAD\r\n");
  r.run(3000);   // past every stall timeout
  QCOMPARE(QByteArray::fromStdString(r.out), expected);
  if (command == "SAVE") {
    QCOMPARE(int(r.core.saveBytesReceived()), received);
    QCOMPARE(r.core.image() == changedImage(), stored);
    if (received >= 4123) QVERIFY(r.core.lastReceived() == changedImage());
  }
  // Whatever happened, the controller answers the next command.
  r.onByte = nullptr;
  r.clear();
  r.send("TM\r\n");
  QCOMPARE(r.lines(), QList<QByteArray>{"0A00001B2C3D4E5F"});
}

void TstControllerCore::commandReplies_data() {
  QTest::addColumn<QStringList>("faults");
  QTest::addColumn<QByteArray>("input");
  QTest::addColumn<QList<QByteArray>>("expected");   // the first lines
  QTest::addColumn<int>("count");                    // all lines

  const QList<QByteArray> ids{"28FF4A1B02160345", "0000000000000000", "28FF91C3A4150221", "28FF0D7E61160390",
                              "0000000000000000", "28FFB2205315047A", "28FF6C9A011603E1", "28FF33D4C2150418"};
  using L = QList<QByteArray>;
  QTest::newRow("one command silent") << QStringList{"silent:TM"} << QByteArray("TM\r\nREAD RS-485\r\n") << L{"3300"} << 1;
  QTest::newRow("all silent") << QStringList{"silent"} << QByteArray("TM\r\nID\r\nSTATUS\r\n") << L{} << 0;
  QTest::newRow("fewer ID lines") << QStringList{"cut:ID:5"} << QByteArray("ID\r\n") << ids.mid(0, 5) << 5;
  QTest::newRow("ID lines given") << QStringList{"reply:ID:A;B"} << QByteArray("ID\r\n") << L{"A", "B"} + ids.mid(2) << 8;
  QTest::newRow("line among IDs") << QStringList{"inject:ID:3:ATI"} << QByteArray("ID\r\n")
                                  << ids.mid(0, 3) + L{"ATI"} + ids.mid(3) << 9;
  QTest::newRow("TM key") << QStringList{"reply:TM:FFFF"} << QByteArray("TM\r\n") << L{"FFFF"} << 1;
  QTest::newRow("STATUS given") << QStringList{"reply:STATUS:1"} << QByteArray("STATUS\r\n") << L{"1"} << 19;
  QTest::newRow("fewer STATUS lines") << QStringList{"cut:STATUS:3"} << QByteArray("STATUS\r\n") << L{"00000001"} << 3;
  QTest::newRow("READ RS-485 given") << QStringList{"reply:READ RS-485:12"} << QByteArray("READ RS-485\r\n") << L{"12"} << 1;
  QTest::newRow("SETUP RS-485 given") << QStringList{"reply:SETUP RS-485:ERR"} << QByteArray("SETUP RS-485\r\n4010")
                                      << L{"ERR"} << 1;
  QTest::newRow("one SEND RS-485 line") << QStringList{"cut:SEND RS-485:1"} << QByteArray("SEND RS-485\r\n0103000A00011")
                                        << L{"01 03 00 0A 00 01 A4 08"} << 1;
  QTest::newRow("time") << QStringList{} << QByteArray("TIME\r\n9:05:07\r\n08.12.26\r\n")
                        << L{"TIME_OK", "DATE08.12.26 09:05:07"} << 2;
  QTest::newRow("no date report") << QStringList{"no-date"} << QByteArray("TIME\r\n9:05:07\r\n08.12.26\r\n")
                                  << L{"TIME_OK"} << 1;
}

void TstControllerCore::commandReplies() {
  QFETCH(QStringList, faults);
  QFETCH(QByteArray, input);
  QFETCH(QList<QByteArray>, expected);
  QFETCH(int, count);
  const auto o = withFaults(faults);
  QVERIFY(o);
  Rig r(*o);
  QVERIFY(r.handshake());
  r.send(input.toStdString());
  r.run(1000);
  const QList<QByteArray> got = r.lines();
  QCOMPARE(got.mid(0, expected.size()), expected);
  QCOMPARE(got.size(), count);
}

void TstControllerCore::delaysAndUnsolicitedLines() {
  const auto o = withFaults({"echo-delay:300:LOAD", "ack-delay:5", "late:TM:1500", "slow-lines:STATUS:200",
                             "unsolicited:500:SAVE_OK", "unsolicited-raw:550:AB:\r"});
  QVERIFY(o);
  Rig r(*o);
  QVERIFY(r.handshake());   // PC_OK went at 100 ms, 150 ms have gone
  r.run(440);
  QVERIFY(r.out.empty());
  r.run(20);
  QCOMPARE(r.lines(), QList<QByteArray>{"SAVE_OK"});   // once, while idle
  r.clear();
  r.run(39);
  QVERIFY(r.out.empty());
  r.run(1);
  QCOMPARE(r.out, std::string("AB:\r"));   // as given, no line end added

  r.clear();
  double t = r.now;
  r.send("TM\r\n");
  r.run(1499);
  QVERIFY(r.out.empty());
  r.run(1);
  QCOMPARE(r.lines(), QList<QByteArray>{"0A00001B2C3D4E5F"});

  r.clear();
  t = r.now;
  r.send("STATUS\r\n");
  r.run(19 * 200 + 10);
  QCOMPARE(r.lines().size(), 19);
  for (std::size_t i = 1, line = 0; i < r.out.size(); ++i)
    if (r.out[i - 1] == '\n') QCOMPARE(r.times[i], t + 200.0 * double(++line));

  r.clear();
  t = r.now;
  r.send("LOAD\r\n");
  r.run(299);
  QVERIFY(r.out.empty());
  r.run(1);
  QCOMPARE(r.out.size(), std::size_t(6 + 4123 + 9));

  // 5 ms for each acknowledgement: the write takes 4123 times that.
  r.clear();
  double first = 0;
  r.save(changedImage(), &first);
  r.run(25000);
  QVERIFY(r.out.ends_with("oSAVE_OK\r\n"));
  QCOMPARE(r.times.back() - first, 4123 * 5.0);
}

void TstControllerCore::inputFraming() {
  Rig r;
  QVERIFY(r.handshake());
  using L = QList<QByteArray>;
  auto exchange = [&](const std::string &input, double ms = 100) {
    r.clear();
    r.send(input);
    r.run(ms);
    return r.lines();
  };
  // An RS-485 payload ends at the first character that cannot belong to it, not after a pause:
  // the command right behind it is a command. A CR LF after a payload is part of it.
  L got = exchange("SEND RS-485\r\n0A1B0STATUS\r\n");
  QCOMPARE(got.size(), 2 + 19);
  QCOMPARE(got.mid(0, 2), (L{"0A 1B", "0A 1B"}));
  QCOMPARE(exchange("SEND RS-485\r\n0A1B0\r\nTM\r\n"), (L{"0A 1B", "0A 1B", "0A00001B2C3D4E5F"}));
  QCOMPARE(exchange("SETUP RS-485\r\n4010READ RS-485\r\n"), (L{"OK", "4010"}));
  QCOMPARE(exchange("SETUP RS-485\r\n40\r\nREAD RS-485\r\n"), (L{"ERR", "4010"}));
  QCOMPARE(exchange("SEND RS-485\r\nTM\r\n"), L{"0A00001B2C3D4E5F"});
  QCOMPARE(exchange("SEND RS-485\r\n0A10\r\n"), (L{"ERR", ""}));

  // The time, date and relay lines count only when they follow their command within a second.
  QCOMPARE(exchange("RELE\r\n10000001\r\n"), L{});
  QCOMPARE(r.core.relays(), std::string("10000001"));
  QCOMPARE(exchange("RELE\r\n", 1500), L{});
  QCOMPARE(exchange("TM\r\n"), L{"0A00001B2C3D4E5F"});
  QCOMPARE(r.core.relays(), std::string("10000001"));
  QCOMPARE(exchange("TIME\r\n", 1500), L{"TIME_OK"});
  QCOMPARE(exchange("ID\r\n").size(), 8);
  QCOMPARE(exchange("TIME\r\n12:00:00\r\n", 1500), L{"TIME_OK"});
  QCOMPARE(exchange("TM\r\n"), L{"0A00001B2C3D4E5F"});

  // Numbers out of any range, signs, junk: the clock stays as it was, the report still comes.
  const QByteArray before = exchange("TIME\r\n10:11:12\r\n01.02.24\r\n").value(1);
  QCOMPARE(before, QByteArray("DATE01.02.24 10:11:12"));
  for (const char *bad : {"12:00:00\r\n01.-2147483648.24\r\n", "12:00:00\r\n01.99999999999999999999.24\r\n",
                          "99999999999:00:00\r\n01.02.24\r\n", "12:00:00\r\n31.02.24\r\n", "12:00:60\r\n01.02.24\r\n",
                          "12:00\r\n01.02.24\r\n", "12:00:00\r\n01.02.24x\r\n"}) {
    const L reply = exchange(std::string("TIME\r\n") + bad, 0);
    QCOMPARE(reply.size(), 2);
    QVERIFY2(reply[1].startsWith("DATE01.02.24 10:11:1"), bad);
  }
  QVERIFY(r.log.contains("time or date line not understood; clock unchanged"));

  // A line too long for any command is dropped; the next one is understood.
  QCOMPARE(exchange(std::string(10000, 'x') + "\r\nTM\r\n"), L{"0A00001B2C3D4E5F"});
}

void TstControllerCore::vanishing() {
  {
    // What had left goes on arriving; what was still to go (a late reply) never does.
    const auto o = withFaults({"vanish:TM", "late:STATUS:500"});
    QVERIFY(o);
    Rig r(*o);
    QVERIFY(r.handshake());
    r.send("ID\r\nSTATUS\r\nTM\r\nID\r\n");
    QVERIFY(r.core.vanished());
    QCOMPARE(r.lines().size(), 8);   // the first ID only
    QCOMPARE(r.core.nextDueMs(), std::numeric_limits<double>::infinity());
    r.send("ID\r\n");
    r.run(3000);
    QCOMPARE(r.lines().size(), 8);
  }
  {
    const auto o = withFaults({"vanish:SAVE:100"});
    QVERIFY(o);
    Rig r(*o);
    QVERIFY(r.handshake());
    r.save(changedImage());
    r.run(3000);
    QVERIFY(r.core.vanished());
    QCOMPARE(QByteArray::fromStdString(r.out), "SAVE\r\n" + QByteArray(100, 'o'));
    QCOMPARE(r.core.saveBytesReceived(), std::size_t(101));
  }
  {
    // Paced: gone once the 50th byte has left, not before; nothing after it ever leaves.
    const auto o = withFaults({"vanish:LOAD:50"}, true);
    QVERIFY(o);
    Rig r(*o);
    QVERIFY(r.handshake());
    r.send("LOAD\r\n");
    r.run(6 * kC + 56 * kC - 0.01);
    QVERIFY(!r.core.vanished());
    r.run(1);
    QVERIFY(r.core.vanished());
    r.run(3000);
    QCOMPARE(QByteArray::fromStdString(r.out), "LOAD\r\n" + QByteArray::fromStdString(imageBytes(sim::defaultImage())).left(50));
  }
}

void TstControllerCore::faultSpellings() {
  for (const char *bad : {"", "bogus", "refuse-byte", "refuse-byte:-1", "refuse-byte:99999999999999999999",
                          "refuse-byte:1x", "cut:ID", "late:TM:x", "err2:1", "inject:ID:3", "silent:", "late:TM:3600001"}) {
    std::string why;
    QVERIFY2(!korvel::parseFault(bad, &why), bad);
    QVERIFY(!why.empty());
  }
  const auto inject = korvel::parseFault("inject:STATUS:18:12:00:00");
  QVERIFY(inject);
  QCOMPARE(inject->fault, korvel::Fault::Inject);
  QCOMPARE(inject->command, std::string("STATUS"));
  QCOMPARE(inject->at, 18L);
  QCOMPARE(inject->text, std::string("12:00:00"));
  const auto vanish = korvel::parseFault("vanish:SEND RS-485");
  QVERIFY(vanish && vanish->at == -1 && vanish->command == "SEND RS-485");
  QCOMPARE(korvel::parseFault("stray-in-load:3")->text, std::string("?"));
  QCOMPARE(korvel::parseFault("reply:ID:A;B")->text, std::string("A\nB"));
}

void TstControllerCore::randomInputLeavesItAnswering() {
  // Fragments of real commands and payloads mixed with noise, at random moments, both paced
  // and not: whatever comes, nothing stays due in the past and the controller answers after.
  std::mt19937 rng(testSeed());
  const std::vector<std::string> pieces{"PC\r\n", "PC_OK\r\n", "BYE\r\n", "TM\r\n", "ID\r\n", "STATUS\r\n",
                                        "TIME\r\n", "12:00:00\r\n", "01.-2147483648.24\r\n", "RELE\r\n",
                                        "SEND RS-485\r\n", "0A1B", "0", "1", "SETUP RS-485\r\n", "4010",
                                        "READ RS-485\r\n", "SAVE\r\n", "LOAD\r\n", "\r", "\n", "\r\n"};
  for (int round = 0; round < 2; ++round) {
    Options o;
    o.pace = round == 1;
    o.faults.push_back({korvel::Fault::StrayBeforeAck, 3, 0, "?", ""});
    o.faults.push_back({korvel::Fault::Inject, 1, 0, "ATI", "ID"});
    Rig r(o);
    for (int i = 0; i < 3000; ++i) {
      std::string chunk;
      if (rng() % 3 == 0)
        for (int n = int(rng() % 40); n > 0; --n) chunk += char(rng() % 256);
      else
        chunk = pieces[rng() % pieces.size()];
      r.send(chunk);
      QVERIFY(r.core.nextDueMs() > r.now);
      r.run(double(rng() % 3000) / 10.0);
      QVERIFY(r.core.nextDueMs() > r.now);
    }
    r.run(600000);   // whatever is still queued leaves
    r.clear();
    r.send("\r\nBYE\r\n");   // ends whatever partial line the noise left
    QVERIFY(r.handshake());
    r.send("TM\r\n");
    r.run(100);
    QCOMPARE(r.lines(), QList<QByteArray>{"0A00001B2C3D4E5F"});
  }
}

QTEST_MAIN(TstControllerCore)
#include "tst_controller_core.moc"
