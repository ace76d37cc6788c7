#pragma once

namespace tavro {

// Prepares the server check on threads of their own while the window is made: the proxy
// decisions for every API server (the first of a run reads the user's settings and may run
// automatic proxy detection or fetch a configuration script) and the TLS provider with the
// trusted roots. Left to the probes, each would hold back every one of them, and the answer would
// come that much later than the fastest server's "true" (bench/server-race). Returns at once.
void decideServerRoutesAhead();

}  // namespace tavro
