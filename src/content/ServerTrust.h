#pragma once

#include <QByteArray>

// Restricts TLS trust of the whole process to the CA compiled in with the build, when there is one.
// A player who plants a root certificate in the system store can then neither feed fake rules nor
// fake ban results. Returns false when the build pins no CA (the system store stays in force).
bool pinContentServerTrust();

// The same for the PEM text `pem`: empty leaves the system store in force (false); otherwise the
// certificates in it become the only roots. A text that holds no certificate trusts nothing, so
// that every request fails rather than falling back to the system store.
bool pinServerTrust(const QByteArray &pem);
