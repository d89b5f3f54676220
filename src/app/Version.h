#pragma once

// The program's own version, compared with the one the content server announces. It is the CMake
// project's version, the one place it is set.
inline constexpr char kProgramVersion[] = VIGILOR_VERSION;
