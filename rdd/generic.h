// Inside the default layer: each file of generic operations writes its slots.
#pragma once
#include "rdd/method_table.h"

namespace xb {

void fillGenericFields(RddMethodTable* t);     // generic_fields.cpp
void fillGenericSkip(RddMethodTable* t);       // generic_skip.cpp
void fillGenericScope(RddMethodTable* t);      // generic_scope.cpp
void fillGenericLifecycle(RddMethodTable* t);  // generic_lifecycle.cpp
void fillGenericRelations(RddMethodTable* t);  // generic_relations.cpp

}  // namespace xb
