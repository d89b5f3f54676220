#pragma once

#include <QString>

namespace platform {

// The name of the user the program runs as, from the system rather than the environment (which the
// examined player sets).
QString userName();

} // namespace platform
