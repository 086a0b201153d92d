#include "engine/ConnectionPool.h"

#include <algorithm>

#include "net/DescriptorShortage.h"

namespace vantrel::engine {

using net::TWSocket;

namespace {

void Silence(TWSocket& s) {
  s.OnSessionConnected = nullptr;
  s.OnDataAvailable = nullptr;
  s.OnSessionClosed = nullptr;
  s.OnDnsLookupDone = nullptr;
  s.OnDataSent = nullptr;
  s.OnBgException = nullptr;
  s.OnError = nullptr;
  s.OnChangeState = nullptr;
}

bool Usable(const TWSocket& s) {
  return s.State() == net::wsConnected && s.Handle() >= 0 && s.SendQueueEmpty();
}

}  // namespace

TConnectionPool::TConnectionPool() {
  // Kept connections are the cheapest descriptors to give back.
  reliever_ = net::AddDescriptorReliever([this] { return Relieve(); });
}

TConnectionPool::~TConnectionPool() {
  *alive_ = false;
  net::RemoveDescriptorReliever(reliever_);
  if (timer_) net::EventLoop::Default().CancelTimer(timer_);
  for (auto& [key, list] : idle_) {
    for (TIdle& idle : list) Silence(*idle.socket);
  }
}

size_t TConnectionPool::Size(const std::string& key) const {
  const auto it = idle_.find(key);
  return it == idle_.end() ? 0 : it->second.size();
}

void TConnectionPool::SetIdleTimeout(std::chrono::milliseconds timeout) {
  idleTimeout_ = timeout;
  if (timer_) net::EventLoop::Default().CancelTimer(timer_);
  timer_ = 0;
  Expire();
}

void TConnectionPool::Park(const std::string& key, std::unique_ptr<TWSocket> socket) {
  if (!socket) return;
  TWSocket* s = socket.get();
  Silence(*s);
  s->SetOwner(nullptr);
  // It must be read while idle, or its peer's close would go unheard.
  try {
    s->ResumeReading();
  } catch (...) {
  }
  if (key.empty() || !Usable(*s)) return Discard(std::move(socket));
  s->OnDataAvailable = [this](TWSocket* sender, uint16_t) { PeerStirred(sender); };
  s->OnSessionClosed = [this](TWSocket* sender, uint16_t) { PeerStirred(sender); };
  TIdleList& list = idle_[key];
  list.push_back({std::move(socket), net::EventLoop::Default().Now()});
  ++total_;
  if (list.size() > kMaxPerKey) {
    std::unique_ptr<TWSocket> oldest = std::move(list.front().socket);
    list.erase(list.begin());
    --total_;
    Discard(std::move(oldest));
  }
  while (total_ > kMaxTotal) RemoveOldest();
  ArmTimer();
}

std::unique_ptr<TWSocket> TConnectionPool::Take(const std::string& key) {
  const auto it = idle_.find(key);
  if (it == idle_.end()) return nullptr;
  std::unique_ptr<TWSocket> found;
  TIdleList& list = it->second;
  while (!list.empty() && !found) {
    std::unique_ptr<TWSocket> s = std::move(list.back().socket);
    list.pop_back();
    --total_;
    if (Usable(*s)) {
      Silence(*s);
      found = std::move(s);
    } else {
      Discard(std::move(s));
    }
  }
  if (list.empty()) idle_.erase(it);
  return found;
}

void TConnectionPool::PeerStirred(TWSocket* socket) {
  // Nobody asked: whatever came is no answer to anything. Read, so that the
  // close sends no reset over it.
  socket->ReceiveText();
  for (auto it = idle_.begin(); it != idle_.end(); ++it) {
    TIdleList& list = it->second;
    const auto found = std::find_if(list.begin(), list.end(),
                                    [socket](const TIdle& i) { return i.socket.get() == socket; });
    if (found == list.end()) continue;
    std::unique_ptr<TWSocket> s = std::move(found->socket);
    list.erase(found);
    --total_;
    if (list.empty()) idle_.erase(it);
    Discard(std::move(s));
    return;
  }
}

void TConnectionPool::Discard(std::unique_ptr<TWSocket> socket) {
  Silence(*socket);
  try {
    socket->Close();
  } catch (...) {
  }
  // Its own handler may be what brought it here: freed off the stack.
  closed_.push_back(std::move(socket));
  if (freePosted_) return;
  freePosted_ = true;
  std::shared_ptr<bool> alive = alive_;
  net::EventLoop::Default().Post([this, alive] {
    if (*alive) FreeClosed();
  });
}

void TConnectionPool::FreeClosed() {
  freePosted_ = false;
  std::erase_if(closed_, [](const std::unique_ptr<TWSocket>& s) { return !s->IsBusy(); });
  if (closed_.empty()) return;
  freePosted_ = true;
  std::shared_ptr<bool> alive = alive_;
  net::EventLoop::Default().AddTimer(std::chrono::milliseconds(10), [this, alive] {
    if (*alive) FreeClosed();
  });
}

void TConnectionPool::RemoveOldest() {
  auto oldest = idle_.end();
  for (auto it = idle_.begin(); it != idle_.end(); ++it) {
    if (oldest == idle_.end() || it->second.front().since < oldest->second.front().since)
      oldest = it;
  }
  if (oldest == idle_.end()) return;
  std::unique_ptr<TWSocket> s = std::move(oldest->second.front().socket);
  oldest->second.erase(oldest->second.begin());
  --total_;
  if (oldest->second.empty()) idle_.erase(oldest);
  Discard(std::move(s));
}

void TConnectionPool::Clear() {
  std::unordered_map<std::string, TIdleList> all;
  all.swap(idle_);
  total_ = 0;
  for (auto& [key, list] : all) {
    for (TIdle& idle : list) Discard(std::move(idle.socket));
  }
}

bool TConnectionPool::Relieve() {
  if (total_ == 0) return false;
  Clear();
  return true;
}

void TConnectionPool::Expire() {
  const TimePoint now = net::EventLoop::Default().Now();
  std::vector<std::unique_ptr<TWSocket>> due;
  for (auto it = idle_.begin(); it != idle_.end();) {
    TIdleList& list = it->second;
    size_t n = 0;
    while (n < list.size() && now - list[n].since >= idleTimeout_) ++n;
    for (size_t i = 0; i < n; ++i) due.push_back(std::move(list[i].socket));
    list.erase(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(n));
    total_ -= n;
    it = list.empty() ? idle_.erase(it) : std::next(it);
  }
  for (auto& s : due) Discard(std::move(s));
  ArmTimer();
}

void TConnectionPool::ArmTimer() {
  if (timer_ || total_ == 0) return;
  TimePoint oldest = TimePoint::max();
  for (const auto& [key, list] : idle_) oldest = std::min(oldest, list.front().since);
  const TimePoint now = net::EventLoop::Default().Now();
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(oldest + idleTimeout_ - now);
  std::shared_ptr<bool> alive = alive_;
  timer_ = net::EventLoop::Default().AddTimer(std::max(left, std::chrono::milliseconds(1)),
                                              [this, alive] {
                                                if (!*alive) return;
                                                timer_ = 0;
                                                Expire();
                                              });
}

}  // namespace vantrel::engine
