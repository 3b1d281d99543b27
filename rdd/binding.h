// Binding an open area to names: its fields onto their names' chains, its
// alias onto the alias symbol, and the field access through which the
// virtual machine reaches the fields of the current (or an aliased) area.
#pragma once
#include <cstdint>

namespace xb {

struct WorkArea;
struct OpenInfo;

// Upper-cases name in place (national tables) after cutting the blanks and
// tabs around it; returns it.
char* trimAliasName(char* name);
// An alias is an identifier: first the underscore, the at sign or a letter,
// then those or digits; blanks and tabs around it are allowed.
bool validAlias(const char* text);

// The generic part of open and create: the area takes its number from info,
// each field is pushed onto the front of its name's chain, the alias is
// bound, and the area is stored in its slot. An invalid alias (17/1010) or
// one bound already (18/1011) is raised through the area's error operation
// (subsystem "DBCMD", flags 4, the alias as operation); the area is then
// not bound and the status is the handler's answer, or RDD_FAILED. An area
// number of 0 marks a transient record (a table being created and closed
// again): nothing is bound.
uint16_t bindArea(WorkArea* a, const OpenInfo* info);
// Unlinks the fields from their chains and unbinds the alias.
void unbindArea(WorkArea* a);

// The field access table of the virtual machine (vm/fields.h), installed at
// the start event so that this layer's current area is the only one.
void installFieldAccess();
void uninstallFieldAccess();

}  // namespace xb
