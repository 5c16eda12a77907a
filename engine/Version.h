// The program's release numbers. Read by the descriptor writer (its version
// characters), the version window and the resource script, so this header
// must stay plain preprocessor definitions.
#pragma once

#define VOKRAM_VERSION_MAJOR 0
#define VOKRAM_VERSION_MINOR 1
#define VOKRAM_VERSION_REVISION 0
// The version block's string form, which differs from "Ver.0.1.0" by design.
#define VOKRAM_VERSION_STRING "0.01"
