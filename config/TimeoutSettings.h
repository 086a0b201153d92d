#pragma once
// The session deadlines of [CONFIG]: HeaderTimeout, IdleTimeout,
// StallTimeout and ConnectTimeout, each a whole number of seconds from 0
// (never) to 86400. One table serves the load, the save, the check and the
// proxy's start.

#include <cstdint>
#include <optional>
#include <string_view>

#include "config/IniFile.h"
#include "engine/SessionTimeouts.h"
#include "model/MainControls.h"

namespace vantrel {

struct TTimeoutKey {
  const char* key;
  TEdit TMainControls::*edit;
  int engine::TSessionTimeouts::*field;
};

extern const TTimeoutKey kTimeoutKeys[4];

// The key's default, as the engine has it.
int32_t TimeoutDefault(const TTimeoutKey& entry);
// A whole number from 0 to 86400 (as the file reads numbers); nullopt otherwise.
std::optional<int32_t> ParseTimeout(std::string_view text);

// Each edit gets the file's value, or the default for one that is not valid.
void LoadTimeouts(const TIniFile& ini, TMainControls& controls);
void WriteTimeouts(TIniFile& ini, const TMainControls& controls);
// What the engine is to use: the edits, with the default for one not valid.
engine::TSessionTimeouts TimeoutsFromControls(const TMainControls& controls);

}  // namespace vantrel
