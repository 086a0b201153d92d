#include "engine/KwProxyData.h"

namespace vantrel::engine {

void TKwProxyData::Assign(const TKwProxyData& source) {
  if (&source == this) return;
  address_ = source.address_;
  port_ = source.port_;
  username_ = source.username_;
  password_ = source.password_;
}

void TKwProxyData::SetAddress(const std::string& value) {
  if (value == address_) return;
  address_ = value;
  DoChange();
}

void TKwProxyData::SetPassword(const std::string& value) {
  if (value == password_) return;
  password_ = value;
  DoChange();
}

void TKwProxyData::SetPort(int32_t value) {
  if (value == port_) return;
  port_ = value;
  DoChange();
}

void TKwProxyData::SetUsername(const std::string& value) {
  if (value == username_) return;
  username_ = value;
  DoChange();
}

void TKwProxyData::DoChange() {
  if (OnChange) OnChange(this);
}

}  // namespace vantrel::engine
