#include "config/TimeoutSettings.h"

#include <string>

namespace vantrel {

using engine::TSessionTimeouts;

const TTimeoutKey kTimeoutKeys[4] = {
    {"HeaderTimeout", &TMainControls::edHeaderTimeout, &TSessionTimeouts::HeaderTimeout},
    {"IdleTimeout", &TMainControls::edIdleTimeout, &TSessionTimeouts::IdleTimeout},
    {"StallTimeout", &TMainControls::edStallTimeout, &TSessionTimeouts::StallTimeout},
    {"ConnectTimeout", &TMainControls::edConnectTimeout, &TSessionTimeouts::ConnectTimeout},
};

int32_t TimeoutDefault(const TTimeoutKey& entry) {
  return TSessionTimeouts{}.*entry.field;
}

std::optional<int32_t> ParseTimeout(std::string_view text) {
  const auto value = TIniFile::ParseInteger(text);
  if (!value || *value < 0 || *value > TSessionTimeouts::kMaxSeconds) return std::nullopt;
  return value;
}

namespace {

int32_t EditValue(const TMainControls& controls, const TTimeoutKey& entry) {
  return ParseTimeout((controls.*entry.edit).Text()).value_or(TimeoutDefault(entry));
}

}  // namespace

void LoadTimeouts(const TIniFile& ini, TMainControls& controls) {
  for (const TTimeoutKey& entry : kTimeoutKeys) {
    const auto text = ini.Find("CONFIG", entry.key);
    const auto value = text ? ParseTimeout(*text) : std::nullopt;
    (controls.*entry.edit).SetText(std::to_string(value.value_or(TimeoutDefault(entry))));
  }
}

void WriteTimeouts(TIniFile& ini, const TMainControls& controls) {
  for (const TTimeoutKey& entry : kTimeoutKeys) {
    ini.WriteInteger("CONFIG", entry.key, EditValue(controls, entry));
  }
}

TSessionTimeouts TimeoutsFromControls(const TMainControls& controls) {
  TSessionTimeouts timeouts;
  for (const TTimeoutKey& entry : kTimeoutKeys) timeouts.*entry.field = EditValue(controls, entry);
  return timeouts;
}

}  // namespace vantrel
