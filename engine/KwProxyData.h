#pragma once
// Next-hop settings of the engine and the set of request kinds it serves.

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>

namespace vantrel::engine {

enum TKwProxyType : uint8_t { ptHTTP, ptTCPTunnel };

// A set of TKwProxyType in one byte.
class TKwProxyTypes {
 public:
  constexpr TKwProxyTypes() = default;
  constexpr TKwProxyTypes(std::initializer_list<TKwProxyType> types) {
    for (TKwProxyType t : types) bits_ |= Bit(t);
  }
  constexpr bool contains(TKwProxyType t) const { return (bits_ & Bit(t)) != 0; }
  constexpr void insert(TKwProxyType t) { bits_ |= Bit(t); }
  constexpr void erase(TKwProxyType t) { bits_ &= static_cast<uint8_t>(~Bit(t)); }
  constexpr bool empty() const { return bits_ == 0; }
  constexpr uint8_t bits() const { return bits_; }
  constexpr bool operator==(const TKwProxyTypes&) const = default;

 private:
  static constexpr uint8_t Bit(TKwProxyType t) { return static_cast<uint8_t>(1u << t); }
  uint8_t bits_ = 0;
};
static_assert(sizeof(TKwProxyTypes) == 1);

// One upstream proxy. OnChange fires after a setter really changed a value.
class TKwProxyData {
 public:
  using TNotifyEvent = std::function<void(TKwProxyData* sender)>;

  explicit TKwProxyData(int32_t port = 0) : port_(port) {}
  virtual ~TKwProxyData() = default;
  // Copying would also copy an OnChange bound to the source; use Assign.
  TKwProxyData(const TKwProxyData&) = delete;
  TKwProxyData& operator=(const TKwProxyData&) = delete;

  const std::string& Address() const { return address_; }
  const std::string& Password() const { return password_; }
  int32_t Port() const { return port_; }
  const std::string& Username() const { return username_; }

  // Copies the four values; fires nothing and leaves OnChange alone.
  virtual void Assign(const TKwProxyData& source);

  virtual void SetAddress(const std::string& value);
  virtual void SetPassword(const std::string& value);
  virtual void SetPort(int32_t value);
  virtual void SetUsername(const std::string& value);

  TNotifyEvent OnChange;

 protected:
  virtual void DoChange();

 private:
  std::string address_;
  std::string password_;
  int32_t port_;
  std::string username_;
};

}  // namespace vantrel::engine
