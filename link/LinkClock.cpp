#include "link/LinkClock.h"

#include <QTimer>
#include <algorithm>
#include <chrono>
#include <limits>

std::int64_t steadyClockMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// ---- TLinkTimer ----

TLinkTimer::TLinkTimer(TManualClock *clock, QObject *parent) : QObject(parent), clock_(clock) {
  if (clock_) {
    clock_->add(this);
  } else {
    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, &TLinkTimer::onTimeout);
  }
}

void TLinkTimer::onTimeout() {
  if (deferred_) {
    // Restarted since the QTimer was started: it waits out the rest of the new period.
    deferred_ = false;
    const std::int64_t left = dueMs_ - steadyClockMs();
    if (left > 0) {
      timer_->start(int(left));
      return;
    }
  }
  if (timer_->interval() != interval_) timer_->start(interval_);   // repeats at its own period
  emit timeout();
}

TLinkTimer::~TLinkTimer() {
  if (clock_) clock_->remove(this);
}

void TLinkTimer::setInterval(int ms) {
  interval_ = std::max(0, ms);
  if (timer_) {
    timer_->setInterval(interval_);   // restarts a running QTimer
    deferred_ = false;
  } else if (active_) {
    dueMs_ = clock_->nowMs() + interval_;   // QTimer restarts on a new interval too
  }
}

void TLinkTimer::start() {
  if (timer_) {
    // The watchdog is restarted for every byte of a transfer. While the QTimer runs with this
    // period it is left alone and only the new deadline is noted, which it waits out when it
    // fires: restarting the QTimer itself each time cost more than the rest of the byte's work.
    if (timer_->isActive() && timer_->interval() == interval_) {
      dueMs_ = steadyClockMs() + interval_;
      deferred_ = true;
    } else {
      timer_->start(interval_);
      deferred_ = false;
    }
    return;
  }
  active_ = true;
  dueMs_ = clock_->nowMs() + interval_;
  order_ = ++clock_->starts_;
}

void TLinkTimer::start(int ms) {
  interval_ = std::max(0, ms);
  start();
}

void TLinkTimer::stop() {
  if (timer_) {
    timer_->stop();
    deferred_ = false;
  } else {
    active_ = false;
  }
}

bool TLinkTimer::isActive() const { return timer_ ? timer_->isActive() : active_; }

// ---- TManualClock ----

TManualClock::TManualClock(std::int64_t startMs, QObject *parent) : QObject(parent), now_(startMs) {}

void TManualClock::add(TLinkTimer *timer) { timers_.push_back(timer); }

void TManualClock::remove(TLinkTimer *timer) {
  timers_.erase(std::remove(timers_.begin(), timers_.end(), timer), timers_.end());
}

void TManualClock::addSource(Source *source) { sources_.push_back(source); }

void TManualClock::removeSource(Source *source) {
  sources_.erase(std::remove(sources_.begin(), sources_.end(), source), sources_.end());
}

void TManualClock::advance(std::int64_t ms) {
  const std::int64_t target = now_ + std::max<std::int64_t>(0, ms);
  // Each pass runs the one earliest thing due; a source wins a tie with a timer, as data that
  // has arrived is read before a timer of the same moment fires.
  for (int guard = 0; guard < 50'000'000; ++guard) {
    constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();
    std::int64_t sourceDue = kNever, timerDue = kNever;
    Source *source = nullptr;
    for (Source *s : sources_) {
      const std::int64_t due = s->nextDueMs();
      if (due < sourceDue) {
        sourceDue = due;
        source = s;
      }
    }
    TLinkTimer *timer = nullptr;
    for (TLinkTimer *t : timers_) {
      if (t->active_ && (t->dueMs_ < timerDue || (t->dueMs_ == timerDue && t->order_ < timer->order_))) {
        timerDue = t->dueMs_;
        timer = t;
      }
    }
    const std::int64_t best = std::min(sourceDue, timerDue);
    if (best > target) break;
    now_ = std::max(now_, best);
    if (source && sourceDue <= timerDue) {
      source->runDue(now_);
    } else if (timer) {
      // A repeating timer: due again one interval on, unless its handler stops or restarts it.
      timer->dueMs_ = now_ + std::max(1, timer->interval_);
      timer->order_ = ++starts_;
      emit timer->timeout();
    }
  }
  // A handler may have moved time on by itself (a modal box's loop that drives the clock):
  // time never goes back.
  now_ = std::max(now_, target);
}
