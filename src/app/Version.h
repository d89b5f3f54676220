#pragma once

// The program's own version, compared with the one the content server announces.
inline constexpr char kProgramVersion[] = "0.0.1";
