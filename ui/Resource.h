// Resource IDs shared by the resource script and the code. Kept as macros so
// the resource compiler can read them.
#pragma once

// The icon has the lowest ID, so the shell shows it for the program file.
#define IDI_VOKRAM 1
