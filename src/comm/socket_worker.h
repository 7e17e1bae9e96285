#pragma once
// Runs the blocking socket work of a ClientSocket on its worker thread while
// the calling thread waits for completion.
#include <cstdint>

#include "comm/client_socket.h"

namespace orv {

// Opens the socket within nSocketTimeout (host/settings.h); a connect that
// does not complete in time is aborted. True when connected on return.
bool RunSocketConnect(ClientSocket& socket);

// One exchange on the open socket; timeoutMs limits each send or receive step.
// Result as RWModbus (exchange.h).
int32_t RunSocketRW(ClientSocket& socket, int32_t timeoutMs, const uint8_t* request,
                    int32_t requestLength, uint8_t* reply, int32_t replyLength);

}  // namespace orv
