// The error system: the launcher that turns every raise into an ErrorObject
// of the class ERROR and evaluates the error block with it, the error block
// itself, and the network-error flag.
//
// Start-up calls errorSystemStart() once the module tables are registered
// and the well-known symbols are bound; shutdown calls errorSystemStop() in
// the final clean-up, before the forced collection.
#pragma once
#include <cstdint>

#include "vm/error.h"
#include "vm/item.h"

namespace xb {

// The ErrorObject: 7 elements, element 1 the descriptor's numeric fields as
// 28 bytes, then the arguments, subsystem, description, operation, file
// name and cargo.
constexpr uint32_t EO_ELEMENTS = 7;
constexpr uint32_t EO_BYTES = 28;

void errorSystemStart();
void errorSystemStop();

// The handle of the class ERROR, created on first use.
uint16_t errorClass();
// Builds the object for d into out (a rooted Item).
void buildErrorObject(Item* out, const ErrorDescriptor* d, const Item* operands, uint16_t count);

// The block in force (null when none); setting a non-block clears it.
const Item* currentErrorBlock();
void setErrorBlock(const Item* block);
bool inErrorHandler();
// The normal way out taken from inside the error block (the default handler
// ends with __QUIT): the exit procedures that run then are not part of the
// handler, and errors in them are handled as any other.
void leaveErrorHandler();

bool netErr();
void setNetErr(bool on);

}  // namespace xb
