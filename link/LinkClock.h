#pragma once
// Time as the link sees it: the reply watchdog, the re-arm tick and the framers' time-out. The
// program runs on the real clock (a QTimer behind each TLinkTimer); tests hand in a
// TManualClock and move time on by hand, so a 5-second watchdog costs no waiting.

#include <QObject>
#include <cstdint>
#include <functional>
#include <vector>

class QTimer;
class TManualClock;

// A repeating timer with QTimer's interface as far as the link uses it.
class TLinkTimer : public QObject {
  Q_OBJECT
public:
  // On the real clock when `clock` is null.
  explicit TLinkTimer(TManualClock *clock = nullptr, QObject *parent = nullptr);
  ~TLinkTimer() override;

  void setInterval(int ms);
  int interval() const { return interval_; }
  void start();          // (re)starts with the current interval
  void start(int ms);    // sets the interval, then starts
  void stop();
  bool isActive() const;

signals:
  void timeout();

private:
  friend class TManualClock;
  void onTimeout();
  TManualClock *clock_;
  QTimer *timer_ = nullptr;
  int interval_ = 0;
  bool active_ = false;
  std::int64_t dueMs_ = 0;
  bool deferred_ = false;     // real clock: restarted without touching the QTimer, due at dueMs_
  std::uint64_t order_ = 0;   // start order, so timers due at the same moment fire in sequence
};

class TManualClock : public QObject {
  Q_OBJECT
public:
  // Something else that acts at times of its own, such as a fake controller.
  struct Source {
    virtual ~Source() = default;
    virtual std::int64_t nextDueMs() const = 0;   // INT64_MAX for nothing pending
    virtual void runDue(std::int64_t nowMs) = 0;
  };

  explicit TManualClock(std::int64_t startMs = 0, QObject *parent = nullptr);

  std::int64_t nowMs() const { return now_; }
  // Moves time on by `ms`, firing every timer and source on the way in time order, each at its
  // own moment. What they start in passing runs too if it falls due within the span.
  void advance(std::int64_t ms);
  // Runs what is due now, without moving time.
  void settle() { advance(0); }

  void addSource(Source *source);
  void removeSource(Source *source);

  std::function<std::int64_t()> function() const {
    return [this] { return now_; };
  }

private:
  friend class TLinkTimer;
  void add(TLinkTimer *timer);
  void remove(TLinkTimer *timer);

  std::int64_t now_;
  std::uint64_t starts_ = 0;
  std::vector<TLinkTimer *> timers_;
  std::vector<Source *> sources_;
};

// Milliseconds of a monotonic clock, for the real program.
std::int64_t steadyClockMs();
