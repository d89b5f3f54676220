#pragma once

#include <QString>

// Expands %NAME% placeholders in a path: %gamedir% (any letter case) is the game folder found at
// start-up, every other name an environment variable (names compared without regard to case, as on
// Windows). Unset names stay as written, set-but-empty ones vanish. With `asFolder` the result ends
// in a separator. Separators are made native last.
QString expandPath(const QString &text, bool asFolder);
