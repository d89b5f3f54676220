#pragma once

#include <QString>

// What the system itself says of a file's code signature.
namespace platform {

struct SystemSignature
{
    enum class Verdict { NotAsked, Trusted, Unsigned, Broken, Untrusted };
    Verdict verdict = Verdict::NotAsked;
    QString signer;       // the signing certificate's subject CN, when one was read
    QString reason;       // the system's words when not trusted
    bool catalog = false; // signed in one of the system's catalogs rather than in the file
};

// On Windows, WinVerifyTrust with the file's own signature or, when it has none, with the system's
// catalogs (where Windows' own drivers are signed); revocation is not fetched, so nothing waits on
// the network. Elsewhere there is no system to ask: NotAsked, and the caller reads the embedded
// signature itself.
SystemSignature systemSignature(const QString &path);

} // namespace platform
