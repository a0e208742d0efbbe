// Hears of every exchange as it completes, for the headless runner's one line per exchange. The
// application implements it, tests fake it. Called on the connection thread that ends the
// exchange, just before the record is marked complete (so it cannot have been freed yet), with no
// store lock held: an implementation must return quickly and never block on output.
#pragma once

namespace rw::capture {

class Conversation;

class ExchangeObserver {
 public:
  virtual ~ExchangeObserver() = default;
  virtual void ExchangeCompleted(const Conversation& conversation) = 0;
};

}  // namespace rw::capture
