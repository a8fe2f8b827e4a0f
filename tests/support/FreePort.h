#pragma once
#include <cstdint>

namespace vantor::test {

// A port on 127.0.0.1 that nothing was bound to a moment ago. Another process may take it before
// the caller binds it again, so callers that bind it later retry with a fresh one when that fails.
uint16_t freeTcpPort();
uint16_t freeUdpPort();

}  // namespace vantor::test
