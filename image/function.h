// The Function record and XB_NATIVE live in vm/function.h; this header only
// forwards to it for sources written before the move.
#pragma once
#include "vm/function.h"
