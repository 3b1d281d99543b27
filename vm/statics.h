// Module statics (STATICSALLOC, STATICSBASE and the static opcodes) and the
// temporary values of TEMPVALUE/PUSHTEMP, both kept in the static area.
#pragma once

namespace xb {

// Shutdown: forgets the open temporary values and frees their list (their
// Items belong to the static area, which is reset separately).
void tempValuesFree();

}  // namespace xb
