// The application module, for the programs that carry it (its data is
// generated into app_main.h).
#include "modules/app_main.h"
