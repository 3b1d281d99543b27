// What the natives behind the database commands (COPY, APPEND FROM, LOCATE,
// LIST ...) share: calling the layer's own functions by name, opening a
// second table beside the current one, choosing fields by name, and reading
// the scope arguments (bFor, bWhile, nNext, nRecord, lRest) in that order.
//
// Ownership: Items these helpers hand out are static-area temporaries
// (tempAlloc) that the caller releases; FieldPair lists are memAlloc'd and
// freed by the caller.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "rdd/workarea.h"
#include "vm/item.h"

namespace xb {

// Parameter n with references followed, or null.
Item* commandArg(uint32_t n);

// Calls the runtime function name with count arguments; its result is in
// the return Item. The status of the call (0, or ST_UNWIND).
uint16_t callNamed(const char* name, const Item* args, uint16_t count);

// The scope arguments starting at parameter first (five of them).
ScopeInfo scopeArgs(uint32_t first);
// True when none of the five scope arguments is given.
bool scopeIsEmpty(const ScopeInfo& s);

// The 0-based indexes of a's fields named in the array names (texts, any
// case, blanks ignored), in the array's order; every field when names is
// null, NIL or empty. Unknown names are left out.
std::vector<uint16_t> chooseFields(WorkArea* a, const Item* names);
// The upper-case name of a's field index (0-based).
std::string fieldNameOf(WorkArea* a, uint16_t index);
// The 0-based index of the field called name in a, or -1.
int32_t fieldIndexOf(WorkArea* a, const std::string& name);

// Opens file with driver (NIL: the default) in the lowest free area,
// shared, read-only when readOnly, under an alias no program uses. The
// current area stays current. Status 0 with *opened set (null when the
// open failed and the handler chose the default), or ST_UNWIND.
uint16_t openBeside(const Item* file, const Item* driver, bool readOnly, WorkArea** opened);
// Closes an area openBeside gave; the current area stays current.
uint16_t closeBeside(WorkArea* a);

// The structure array (DBSTRUCT's rows) of the current area restricted to
// the fields chosen, into *out (a rooted Item).
RddResult chosenStructure(WorkArea* a, const std::vector<uint16_t>& fields, Item* out);

// A file name with ext appended when its last part has no extension.
std::string withDefaultExtension(const Item* file, const char* ext);

}  // namespace xb
