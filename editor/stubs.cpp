// Handlers whose features are not built yet: each does nothing (or gives the
// answer that lets the program go on) until its real one replaces it here.
#include "editor/commands.h"


