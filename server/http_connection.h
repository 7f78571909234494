// Serves the one HTTP request of an accepted connection: the connection's socket wrapped in a
// socket stream, read and answered by the HTTP request reader. Runs on the connection's thread.
#pragma once

#include "http/request_handler.h"
#include "server/request_context.h"

namespace ombrix {

// serve_http_request over a socket stream on the context's socket; the stream is flushed and
// destroyed before returning, the socket stays open (its sending direction is shut down when
// the request's input had to be drained, see request_transport). Returns what
// serve_http_request returns; never throws.
// The request is charged to `budget`; diagnostics follow `config`. Both outlive the call.
int handle_http_request(const request_context& context, const settings& config,
                        memory_budget& budget, const rest_dispatcher& dispatch,
                        const early_reply_check& early_reply = {});

}  // namespace ombrix
