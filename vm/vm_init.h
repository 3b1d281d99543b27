// Bringing the virtual machine up and down (the start-up and shutdown
// sequences call these at their places).
#pragma once

namespace xb {

// Allocates the evaluation stack and the static area, fills the dispatch
// table and registers the stack's sequence handler.
void vmStart();
// Finds the well-known symbols once the module tables are registered.
void vmBindSymbols();
// Resets the public count, the static area and the return Item, runs the
// forced collection and frees the item areas.
void vmStop();
// After vmStop: gives back what the VM's subsystems hold and puts each one's
// record back to its start state, in one step: memory variables, temporary
// values, the symbol table, the idle tasks, every object (with the literal
// table and the collector's state) and the stacks. A later vmStart begins
// as a fresh process does (tests bring the VM up and down this way).
void vmRelease();

}  // namespace xb
