// The argument records of the order slots (orderListAdd, orderListFocus,
// orderInfo, orderCondition, orderCreate) and the information codes of
// orderInfo. They belong to no driver: the order natives fill them and any
// driver with orders reads them.
//
// Ownership: the records are the caller's; Items in them are only read,
// except OrderInfo::value, which receives the answer (a new value).
#pragma once
#include <cstdint>

#include "vm/item.h"

namespace xb {

// orderListAdd (bagName: the index file), orderListFocus (order: the order
// to select; value: the name of the order that was controlling) and
// orderInfo (order: which one; value: argument in, answer out).
struct OrderInfo {
    const Item* order;    // a number, a name (tag or file base name), or null/NIL: the controlling one
    const char* bagName;  // orderListAdd only
    Item* value;          // may be null where no answer is wanted
};

// orderCondition: the arguments of ORDCONDSET by position (null or NIL when
// not given): 1 for-condition text, 2 for-condition block, 3 own logical,
// 4 second block, 5 evaluation block, 6 evaluation interval, 7-9 three
// numbers, 10 first logical, 11 descending.
constexpr uint16_t ORDER_CONDITION_ARGS = 11;
struct OrderCondition {
    const Item* args[ORDER_CONDITION_ARGS];
};

// orderCreate: the new index file and its key. keyBlock (a codeblock) wins
// over compiling keyText; keyText is what the header keeps (may be empty
// when a block is given).
struct OrderCreateInfo {
    const char* bagName;
    const char* tag;      // null or empty: none
    const char* keyText;  // null: empty
    const Item* keyBlock;  // null or not a block: compile keyText
    uint16_t unique;
};

enum OrderInfoCode : uint16_t {
    DBOI_CONDITION = 1,
    DBOI_EXPRESSION = 2,
    DBOI_POSITION = 3,
    DBOI_NAME = 5,
    DBOI_NUMBER = 6,
    DBOI_BAGNAME = 7,
    DBOI_BAGEXT = 8,
    DBOI_KEYCOUNT = 26,
    DBOI_SCOPETOP = 39,
    DBOI_SCOPEBOTTOM = 40,
    DBOI_SCOPETOPCLEAR = 41,
    DBOI_SCOPEBOTTOMCLEAR = 42,
};

}  // namespace xb
