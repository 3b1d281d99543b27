// The sort slot of the DBF driver (see rdd/dbf/dbf_sort.cpp): a sorted copy of
// the records of a scope into a destination area, through transRecord.
#pragma once
#include <cstdint>

#include "rdd/method_table.h"

namespace xb {

// SortKey::flags bits.
constexpr uint16_t DBF_SORT_DESCENDING = 0x0001;
constexpr uint16_t DBF_SORT_NOCASE = 0x0002;

// Memory the sort may use for its records (0, the default, is 8 MiB);
// beyond it, runs go to temporary files beside the table and are merged. A
// field of the runtime's hooks record.
constexpr uint32_t DBF_SORT_DEFAULT_BUDGET = 8u * 1024 * 1024;
extern uint32_t& dbfSortBudget;

// Writes the sort slot.
void fillDbfSort(RddMethodTable* table);

}  // namespace xb
