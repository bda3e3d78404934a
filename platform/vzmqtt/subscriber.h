// The subscriber process that vz_sub starts.
#pragma once

namespace brim {

// Connects to host:port, subscribes to `filter`, and serves messages for ever, reconnecting
// whenever the broker goes away. Returns only on a fatal error (its exit status).
int run_subscriber(const char *host, int port, const char *filter);

}  // namespace brim
