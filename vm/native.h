// The protocol native functions use: their parameters are the Items above
// the self slot of their own frame; their result is the return Item (slot 0),
// which the caller set to NIL before the call.
#pragma once
#include <cstdint>

#include "vm/item.h"
#include "vm/object.h"

namespace xb {

uint16_t paramCount();
// Parameter n when its type shares a bit with mask (or mask is 0xFFFF); with
// mask 2 a Double parameter is converted in place to an Integer. n = 0xFFFF
// gives the return Item. Null when absent or of another type.
Item* paramItem(uint32_t n, uint16_t mask);
int32_t paramInt(uint32_t n);
// Parameter n of any type, a parameter passed by reference followed to the
// Item it names; null when absent.
Item* argumentItem(uint32_t n);
// A parameter that is there and not NIL (null counts as absent).
inline bool isGiven(const Item* it) { return it && it->type != T_NIL; }
// Parameter n (followed like argumentItem) when it is a string, else null.
const Item* stringArgument(uint32_t n);
// Parameter n as a NUL-terminated text in buffer, cut to size - 1 bytes; ""
// when absent or not a string. Returns buffer.
const char* argumentText(uint32_t n, char* buffer, uint32_t size);
int32_t itemInt(const Item* it);
inline int32_t itemLong(const Item* it) { return itemInt(it); }
void* itemData(const Item* it);  // heap types only; anything else is fatal error 660
char* itemTextCopy(const Item* it);  // memAlloc'd copy with its NUL, or null when not a string
double itemDouble(const Item* it);    // numeric value of an Integer or Double, else 0

void retNil();
void retLogical(bool b);
void retInt(int32_t v);
inline void retLong(int32_t v) { retInt(v); }
void retDoubleFromLong(int32_t v);
void retDouble(double d, uint16_t width, uint16_t decimals);
char* retStringAlloc(uint32_t n);
void retStringConst(const char* bytes, uint32_t n);
void retCString(const char* text);
void retString(const char* bytes, uint32_t n);
void retArray(uint32_t n);
Codeblock* retCodeblock();
void retItem(const Item* it);

}  // namespace xb
