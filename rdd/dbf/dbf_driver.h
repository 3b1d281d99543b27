// The DBF driver: registers the fill of the "DBF" method table (plain DBF
// tables with DBT memo files) with the registry; the image's DBF driver
// module builds its table from it, and DBFNTX inherits it. Operations are
// reached only through the method table; this header offers what tests and
// the index driver need to look inside a DBF area.
#pragma once

#include "rdd/dbf/dbf_table.h"

namespace xb {

struct WorkArea;
struct RelationRecord;

// The table engine of an area opened by DBF (or a driver inheriting its
// area record).
const DbfTable* dbfTableOf(const WorkArea* a);
// The relation the area must still follow (set by childSync, taken by
// forceRelation), for a driver that follows it its own way.
RelationRecord** dbfPendingRelation(WorkArea* a);

}  // namespace xb
