#include "vm/symref.h"

namespace xb {

#if XB_TARGET_64
SymbolRecordPool symbolRecords;
#endif

}  // namespace xb
