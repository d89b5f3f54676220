#pragma once

#include <QString>

// Expands %NAME% placeholders in a path: a name set by setPlaceholder (%gamedir%, the game folder
// found at start-up) is its value, every other name an environment variable (names compared without
// regard to case, as on Windows). Unset names stay as written, set-but-empty ones vanish. With
// `asFolder` the result ends in a separator. Separators are made native last.
QString expandPath(const QString &text, bool asFolder);

// Sets the placeholder `name` (any letter case) to what the program found: the loader sets "gamedir"
// once it knows the game folder.
void setPlaceholder(const QString &name, const QString &value);
