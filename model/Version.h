#pragma once
// The program's name and version: the window title, the About page, the
// e-mail subject and --version all read them from here.

namespace vantrel {

#define VANTREL_PROGRAM_NAME "Vantrel"
#define VANTREL_PROGRAM_VERSION "0.05"

inline constexpr char kProgramName[] = VANTREL_PROGRAM_NAME;
inline constexpr char kVersion[] = VANTREL_PROGRAM_VERSION;
inline constexpr char kProgramTitle[] = VANTREL_PROGRAM_NAME " v" VANTREL_PROGRAM_VERSION;

#undef VANTREL_PROGRAM_NAME
#undef VANTREL_PROGRAM_VERSION

}  // namespace vantrel
