#pragma once
// The one subscribe-and-notify mechanism of the model: controls, record
// tables and the screen log tell their views through it. A view either
// keeps a token and unsubscribes itself, or holds a TSubscription that
// unsubscribes when it goes away. A subscription may outlive what it
// watches: it then does nothing when destroyed.

#include <functional>
#include <map>
#include <memory>
#include <utility>

namespace vantrel {

// Move-only; destroying or resetting it ends the subscription.
class TSubscription {
 public:
  TSubscription() = default;
  explicit TSubscription(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
  ~TSubscription() { Reset(); }
  TSubscription(TSubscription&& other) noexcept : cancel_(std::exchange(other.cancel_, {})) {}
  TSubscription& operator=(TSubscription&& other) noexcept {
    if (this != &other) {
      Reset();
      cancel_ = std::exchange(other.cancel_, {});
    }
    return *this;
  }
  TSubscription(const TSubscription&) = delete;
  TSubscription& operator=(const TSubscription&) = delete;

  bool Active() const { return static_cast<bool>(cancel_); }
  void Reset() {
    if (auto cancel = std::exchange(cancel_, {})) cancel();
  }

 private:
  std::function<void()> cancel_;
};

template <typename... Args>
class TListenerList {
 public:
  using Listener = std::function<void(Args...)>;

  TListenerList() = default;
  // Listeners belong to one object: a copy starts without any, a move
  // takes them along.
  TListenerList(const TListenerList&) : TListenerList() {}
  TListenerList& operator=(const TListenerList&) { return *this; }
  TListenerList(TListenerList&& other) noexcept
      : state_(std::exchange(other.state_, std::make_shared<State>())) {}
  TListenerList& operator=(TListenerList&& other) noexcept {
    if (this != &other) state_ = std::exchange(other.state_, std::make_shared<State>());
    return *this;
  }

  int Subscribe(Listener listener) {
    const int token = state_->next++;
    state_->listeners.emplace(token, std::move(listener));
    return token;
  }
  void Unsubscribe(int token) { state_->listeners.erase(token); }
  [[nodiscard]] TSubscription Watch(Listener listener) {
    const int token = Subscribe(std::move(listener));
    return TSubscription([weak = std::weak_ptr<State>(state_), token] {
      if (auto state = weak.lock()) state->listeners.erase(token);
    });
  }
  size_t Count() const { return state_->listeners.size(); }

  // A listener may unsubscribe itself or others while we walk: one that is
  // gone is not called, one added meanwhile hears from the next event on.
  void Notify(Args... args) const {
    const std::shared_ptr<State> state = state_;
    const int last = state->next - 1;
    for (auto at = state->listeners.begin(); at != state->listeners.end() && at->first <= last;) {
      const int token = at->first;
      Listener listener = at->second;
      listener(args...);
      at = state->listeners.upper_bound(token);
    }
  }

 private:
  struct State {
    std::map<int, Listener> listeners;
    int next = 1;
  };
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace vantrel
