#pragma once

// Restricts TLS trust of the whole process to the CA compiled in with the build, when there is one.
// A player who plants a root certificate in the system store can then neither feed fake rules nor
// fake ban results. Returns false when the build pins no CA (the system store stays in force).
bool pinContentServerTrust();
