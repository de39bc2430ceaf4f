// The line and byte matchers fed directly, with a hand-driven clock.
#include <QtTest>

#include <random>

#include "link/Framers.h"
#include "soak.h"

namespace {
struct Rig {
  std::int64_t nowMs = 1000;
  TPacketFramers f{[this] { return nowMs; }};
  QList<QByteArray> lines;
  QByteArray bytes;
  std::function<void(const QByteArray &)> lineHook;
  std::function<void(std::uint8_t)> byteHook;

  Rig() {
    f.onLine = [this](const QByteArray &l) {
      lines << l;
      if (lineHook) lineHook(l);
    };
    f.onByte = [this](const std::uint8_t *d, int n) {
      QCOMPARE(n, 1);
      bytes.append(static_cast<char>(*d));
      if (byteHook) byteHook(*d);
    };
  }
  void armLine() {
    f.line.setArmed(true);
    f.line.setAutoRearm(true);
  }
  // The switch the transfer makes: one matcher off with auto re-arm cleared, the other on.
  void switchToBytes() {
    f.line.setArmed(false);
    f.line.setAutoRearm(false);
    f.byte.setArmed(true);
    f.byte.setAutoRearm(true);
  }
  void switchToLines() {
    f.byte.setArmed(false);
    f.byte.setAutoRearm(false);
    armLine();
  }
};
}  // namespace

class TstFramers : public QObject {
  Q_OBJECT
private slots:
  void linesAcrossBurstsAndPieces();
  void lineToBytesAndBack();
  void bothArmedInSave();
  void autoRearmClearedInHandler();
  void nothingArmedDiscards();
  void timeoutCountsFromArming();
  void timeoutCutsLateReply();
  void heldWhileHandlerRuns();
  void longLineIsBounded();
  void rearmAfterDroppedLongLine_data();
  void rearmAfterDroppedLongLine();
  void heldInputIsCapped();
  void randomInputStaysBounded();
};

void TstFramers::linesAcrossBurstsAndPieces() {
  Rig r;
  r.armLine();
  r.f.feed(QByteArray("PC_OK\r\nSAVE_OK\r\n"));
  QCOMPARE(r.lines, (QList<QByteArray>{"PC_OK\r\n", "SAVE_OK\r\n"}));

  r.lines.clear();
  r.f.feed(QByteArray("SAV"));
  r.f.feed(QByteArray("E_OK\r"));
  QVERIFY(r.lines.isEmpty());
  r.f.feed(QByteArray("\n"));
  QCOMPARE(r.lines, (QList<QByteArray>{"SAVE_OK\r\n"}));

  // A lone CR is data, and a terminator that starts over after it still matches.
  r.lines.clear();
  r.f.feed(QByteArray("AB\rC\r\n"));
  QCOMPARE(r.lines, (QList<QByteArray>{"AB\rC\r\n"}));
  QCOMPARE(r.lines.first().size(), 6);
  r.lines.clear();
  r.f.feed(QByteArray("X\r\r\n\n\r\n"));
  QCOMPARE(r.lines, (QList<QByteArray>{"X\r\r\n", "\n\r\n"}));
  // LF CR is no terminator either.
  r.lines.clear();
  r.f.feed(QByteArray("Y\n\rZ\r\n"));
  QCOMPARE(r.lines, (QList<QByteArray>{"Y\n\rZ\r\n"}));
  QVERIFY(r.bytes.isEmpty());
}

void TstFramers::lineToBytesAndBack() {
  Rig r;
  r.armLine();
  QByteArray image;
  for (int i = 0; i < 300; ++i) image.append(static_cast<char>(i * 7));
  r.lineHook = [&](const QByteArray &l) {
    if (l == "LOAD\r\n") r.switchToBytes();
  };
  r.byteHook = [&](std::uint8_t) {
    if (r.bytes.size() == image.size()) r.switchToLines();
  };
  // Echo, the whole image and the confirmation line in one burst.
  r.f.feed(QByteArray("LOAD\r\n") + image + QByteArray("LOAD_OK\r\n"));
  QCOMPARE(r.lines, (QList<QByteArray>{"LOAD\r\n", "LOAD_OK\r\n"}));
  QCOMPARE(r.bytes, image);
  QVERIFY(r.f.line.armed());
  QVERIFY(!r.f.byte.armed());

  // The bytes of a CR LF are plain data to the byte matcher.
  r.lines.clear();
  r.bytes.clear();
  r.byteHook = nullptr;
  r.switchToBytes();
  r.f.feed(QByteArray("o\r\no"));
  QCOMPARE(r.bytes, QByteArray("o\r\no"));
  QVERIFY(r.lines.isEmpty());
}

void TstFramers::bothArmedInSave() {
  Rig r;
  r.armLine();
  // The re-arm tick has armed the byte matcher before the echo came.
  r.f.byte.setArmed(true);
  r.f.byte.setAutoRearm(true);
  r.lineHook = [&](const QByteArray &l) {
    if (l == "SAVE\r\n") {
      r.f.line.setArmed(false);
      r.f.line.setAutoRearm(false);
    }
  };
  r.f.feed(QByteArray("ATI\r\nSA"));
  r.f.feed(QByteArray("VE\r\noo"));
  QCOMPARE(r.lines, (QList<QByteArray>{"ATI\r\n", "SAVE\r\n"}));
  QCOMPARE(r.bytes, QByteArray("oo"));

  // After the byte phase the line matcher is armed again beside the byte matcher: the
  // confirmation must still reach it whole.
  r.lines.clear();
  r.bytes.clear();
  r.armLine();
  r.f.feed(QByteArray("SAVE_OK\r\n"));
  QCOMPARE(r.lines, (QList<QByteArray>{"SAVE_OK\r\n"}));
  QVERIFY(r.bytes.isEmpty());
}

void TstFramers::autoRearmClearedInHandler() {
  Rig r;
  r.armLine();
  r.lineHook = [&](const QByteArray &) { r.f.line.setAutoRearm(false); };
  r.f.feed(QByteArray("ONE\r\nTWO\r\n"));
  QCOMPARE(r.lines, (QList<QByteArray>{"ONE\r\n"}));
  QVERIFY(!r.f.line.armed());

  // Setting the flag again inside the handler re-arms on return.
  r.lines.clear();
  r.lineHook = [&](const QByteArray &) { r.f.line.setAutoRearm(true); };
  r.f.line.setArmed(true);
  r.f.feed(QByteArray("A\r\nB\r\n"));
  QCOMPARE(r.lines, (QList<QByteArray>{"A\r\n", "B\r\n"}));
  QVERIFY(r.f.line.armed());
}

void TstFramers::nothingArmedDiscards() {
  Rig r;
  r.f.feed(QByteArray("ATI\r\nxyz"));
  QVERIFY(r.lines.isEmpty());
  QVERIFY(r.bytes.isEmpty());
  QCOMPARE(r.f.collectedLineBytes(), 0);
  r.armLine();
  r.f.feed(QByteArray("Ver.2.10\r\n"));
  QCOMPARE(r.lines, (QList<QByteArray>{"Ver.2.10\r\n"}));

  // Disarming drops a partly collected line.
  r.lines.clear();
  r.f.feed(QByteArray("PART"));
  r.f.line.setArmed(false);
  r.f.line.setArmed(true);
  r.f.feed(QByteArray("OK\r\n"));
  QCOMPARE(r.lines, (QList<QByteArray>{"OK\r\n"}));
}

void TstFramers::timeoutCountsFromArming() {
  Rig r;
  r.armLine();
  r.nowMs += TPacketFramers::kTimeoutMs - 1;
  r.f.checkTimeouts();
  QVERIFY(r.f.line.armed());
  r.nowMs += 1;
  r.f.checkTimeouts();
  QVERIFY(r.f.line.armed());             // nothing collected, nothing lost: it listens on
  r.f.feed(QByteArray("ATI\r\n"));
  QCOMPARE(r.lines, (QList<QByteArray>{"ATI\r\n"}));
  r.lines.clear();

  // Every delivery re-arms, and so restarts the count.
  r.armLine();
  r.nowMs += 100000;
  r.f.feed(QByteArray("ATI\r\n"));
  r.nowMs += 100000;
  r.f.checkTimeouts();
  QVERIFY(r.f.line.armed());

  // The byte matcher has the same time-out.
  r.switchToBytes();
  r.nowMs += TPacketFramers::kTimeoutMs;
  r.f.feed(QByteArray("o"));
  QVERIFY(!r.f.byte.armed());
  QVERIFY(r.bytes.isEmpty());
}

void TstFramers::timeoutCutsLateReply() {
  Rig r;
  r.armLine();
  r.nowMs += TPacketFramers::kTimeoutMs - 10;
  r.f.feed(QByteArray("SAV"));
  r.nowMs += 10;
  r.f.feed(QByteArray("E_OK\r\n"));
  // The stale part is dropped; the rest arrives as a line of its own, and the next reply whole.
  QCOMPARE(r.lines, (QList<QByteArray>{"E_OK\r\n"}));
  r.f.feed(QByteArray("SAVE_OK\r\n"));
  QCOMPARE(r.lines, (QList<QByteArray>{"E_OK\r\n", "SAVE_OK\r\n"}));
  // A partial line collected just before the time-out is dropped by it, not delivered later.
  r.lines.clear();
  r.f.feed(QByteArray("AT"));
  r.nowMs += TPacketFramers::kTimeoutMs;
  r.f.checkTimeouts();
  QCOMPARE(r.f.collectedLineBytes(), 0);
  r.f.feed(QByteArray("Ver.2.10\r\n"));
  QCOMPARE(r.lines, (QList<QByteArray>{"Ver.2.10\r\n"}));
}

void TstFramers::heldWhileHandlerRuns() {
  Rig r;
  r.armLine();
  // The handler runs a nested event loop (a modal box) during which more data arrives.
  int depth = 0;
  r.lineHook = [&](const QByteArray &l) {
    QCOMPARE(++depth, 1);
    QVERIFY(r.f.delivering());
    if (l == "DATE1\r\n") {
      r.f.feed(QByteArray("LOAD\r\nab"));
      r.f.feed(QByteArray("c"));
      QCOMPARE(r.lines.size(), 1);       // nothing delivered while the handler is inside
      QCOMPARE(r.f.heldBytes(), 9);
    }
    if (l == "LOAD\r\n") r.switchToBytes();
    --depth;
  };
  r.byteHook = [&](std::uint8_t b) {
    if (b == 'a') r.f.feed(QByteArray("d"));   // held behind the c
    if (b == 'd') r.switchToLines();
  };
  r.f.feed(QByteArray("DATE1\r\n"));
  QCOMPARE(r.lines, (QList<QByteArray>{"DATE1\r\n", "LOAD\r\n"}));
  QCOMPARE(r.bytes, QByteArray("abcd"));
  QCOMPARE(r.f.heldBytes(), 0);
  QVERIFY(!r.f.delivering());
  r.f.feed(QByteArray("LOAD_OK\r\n"));
  QCOMPARE(r.lines.last(), QByteArray("LOAD_OK\r\n"));
}

void TstFramers::longLineIsBounded() {
  // Each stream fed whole and byte by byte: a line of kMaxLine bytes counts, a longer one is
  // dropped up to and including its CR LF, and the next line arrives intact.
  const QByteArray x(TPacketFramers::kMaxLine - 2, 'x');
  const struct {
    QByteArray in;
    QList<QByteArray> out;
  } cases[] = {
      {x + "\r\nATI\r\n", {x + "\r\n", "ATI\r\n"}},
      {x + "x\r\nPC_OK\r\n", {"PC_OK\r\n"}},       // the CR is the last byte that fits
      {x + "xx\r\nPC_OK\r\n", {"PC_OK\r\n"}},      // the CR is past the bound
      {x + "x\r\r\nPC_OK\r\n", {"PC_OK\r\n"}},
      {x + "x\rz\r\nPC_OK\r\n", {"PC_OK\r\n"}},  // a lone CR at the bound ends nothing
      {QByteArray(100000, 'y') + "\r\nATI\r\n", {"ATI\r\n"}},
  };
  for (const auto &c : cases) {
    for (const bool whole : {true, false}) {
      Rig r;
      r.armLine();
      if (whole) {
        r.f.feed(c.in);
      } else {
        for (const char b : c.in) r.f.feed(&b, 1);
      }
      QCOMPARE(r.lines, c.out);
      QCOMPARE(r.f.collectedLineBytes(), 0);
    }
  }
}

void TstFramers::rearmAfterDroppedLongLine_data() {
  QTest::addColumn<QByteArray>("dropped");   // the over-long line as far as it came
  QTest::addColumn<bool>("byTimeout");       // cut short by the time-out, not disarmed by the link
  QTest::addColumn<QByteArray>("next");
  QTest::addColumn<QList<QByteArray>>("out");
  const QByteArray x(TPacketFramers::kMaxLine - 2, 'x');
  QTest::newRow("inside the line") << x + "xxx" << false << QByteArray("PC_OK\r\n")
                                   << QList<QByteArray>{"PC_OK\r\n"};
  // After re-arming an LF starts a line of its own; it does not end the dropped one.
  QTest::newRow("after a CR") << x + "xx\r" << false << QByteArray("\nPC_OK\r\n")
                              << QList<QByteArray>{"\nPC_OK\r\n"};
  QTest::newRow("time-out inside the line") << x + "xxx" << true << QByteArray("PC_OK\r\n")
                                            << QList<QByteArray>{"PC_OK\r\n"};
}

void TstFramers::rearmAfterDroppedLongLine() {
  QFETCH(QByteArray, dropped);
  QFETCH(bool, byTimeout);
  QFETCH(QByteArray, next);
  QFETCH(QList<QByteArray>, out);
  // Disarming ends the dropping too: the armed matcher starts clean.
  Rig r;
  r.armLine();
  r.f.feed(dropped);
  QCOMPARE(r.f.collectedLineBytes(), 0);
  if (byTimeout) {
    r.nowMs += TPacketFramers::kTimeoutMs;
    r.f.checkTimeouts();
  } else {
    r.f.line.setArmed(false);
  }
  QCOMPARE(r.f.line.armed(), byTimeout);   // the time-out ends the dropping and listens on
  r.armLine();
  r.f.feed(next);
  QCOMPARE(r.lines, out);
  QCOMPARE(r.f.collectedLineBytes(), 0);
}

void TstFramers::heldInputIsCapped() {
  // A flood pushed in while a handler runs is capped, not stored whole.
  Rig r;
  r.armLine();
  bool once = false;
  r.lineHook = [&](const QByteArray &) {
    if (once) return;
    once = true;
    r.f.feed(QByteArray(TPacketFramers::kMaxHeld + 500, 'z'));
    QCOMPARE(r.f.heldBytes(), TPacketFramers::kMaxHeld);
  };
  r.f.feed(QByteArray("GO\r\n"));
  QCOMPARE(r.f.droppedHeldBytes(), 500u);
  QCOMPARE(r.f.heldBytes(), 0);

  // Handlers that feed the next line each time: what has been worked through is let go, so the
  // stored input stays within the cap however much passes.
  Rig chain;
  chain.armLine();
  const QByteArray next = QByteArray(1000, 'n') + "\r\n";
  qsizetype most = 0;
  chain.lineHook = [&](const QByteArray &) {
    most = std::max(most, chain.f.storedInputBytes());
    if (chain.lines.size() < 3 * TPacketFramers::kMaxHeld / next.size()) chain.f.feed(next);
  };
  chain.f.feed(next);
  QCOMPARE(chain.lines.size(), 3 * TPacketFramers::kMaxHeld / next.size());
  QVERIFY2(most <= 2 * TPacketFramers::kMaxHeld, qPrintable(QString::number(most)));
  QCOMPARE(chain.f.droppedHeldBytes(), 0u);
}

void TstFramers::randomInputStaysBounded() {
  Rig r;
  std::mt19937 rng(soak::seed("random input"));
  r.lineHook = [&](const QByteArray &l) {
    QVERIFY(l.endsWith("\r\n"));
    QVERIFY(l.size() <= TPacketFramers::kMaxLine);
    if (rng() % 4 == 0) r.switchToBytes();
  };
  r.byteHook = [&](std::uint8_t) {
    if (rng() % 50 == 0) r.switchToLines();
    if (rng() % 97 == 0) r.f.line.setArmed(true);   // both armed now and then
  };
  r.armLine();
  qsizetype fed = 0;
  for (int round = 0; round < soak::rounds(20000); ++round) {
    QByteArray chunk(static_cast<int>(rng() % 300), '\0');
    for (auto &c : chunk) {
      const auto v = rng() % 8;
      c = v == 0 ? '\r' : v == 1 ? '\n' : static_cast<char>(rng());
    }
    fed += chunk.size();
    r.f.feed(chunk);
    if (round % 100 == 0) r.nowMs += TPacketFramers::kTimeoutMs;   // time-outs interleaved
    if (!r.f.line.armed() && !r.f.byte.armed()) r.armLine();
    QVERIFY(r.f.collectedLineBytes() <= TPacketFramers::kMaxLine);
  }
  qsizetype delivered = r.bytes.size();
  for (const auto &l : r.lines) delivered += l.size();
  QVERIFY(delivered <= fed);
  QVERIFY(!r.lines.isEmpty());
  QVERIFY(!r.bytes.isEmpty());
}

QTEST_GUILESS_MAIN(TstFramers)
#include "tst_framers.moc"
