#pragma once

namespace tavro {

// Loads what the first HTTPS request of a run would otherwise load on its way, while the caller
// does something else: the platform's TLS provider (a Schannel credentials handle, made and
// freed) and its certificate chain engine with the machine's trusted roots. Every part is
// optional: what cannot be loaded here the request loads itself. Both libraries come from the
// system folder only.
void loadTlsProvider();

}  // namespace tavro
