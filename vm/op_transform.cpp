// TRANSFORM(value, picture): a text, logical, date or number formatted
// through a picture text (or through none when the picture is NIL).
#include <cstring>

#include "base/dates.h"
#include "base/picture.h"
#include "base/memory.h"
#include "vm/settings.h"
#include "vm/builtins.h"
#include "vm/normalize.h"
#include "vm/object.h"
#include "vm/stack.h"

namespace xb {

namespace {

// Dates in pictures are written in the working date format.
uint32_t workingDateText(void*, int32_t day, char* out) {
    return uint32_t(dateFormat(day, settingDateFormat(), out));
}

bool describe(const Item* x, TransformValue* v) {
    std::memset(v, 0, sizeof *v);
    switch (x->type) {
    case T_INTEGER:
        v->kind = ValueKind::Number;
        v->number = double(x->v.l);
        v->isInteger = true;
        v->width = x->width;
        return true;
    case T_DOUBLE:
        v->kind = ValueKind::Number;
        v->number = x->v.d;
        v->width = x->width;
        v->decimals = x->decimals;
        return true;
    case T_STRING:
    case T_MEMO:
        v->kind = ValueKind::Text;
        v->text = strData(x);
        v->length = strLength(x);
        return true;
    case T_DATE:
        v->kind = ValueKind::Date;
        v->date = x->v.l;
        return true;
    case T_LOGICAL:
        v->kind = ValueKind::Logical;
        v->logical = x->v.l != 0;
        return true;
    default: return false;
    }
}

}  // namespace

XB_OPCODE(TRANSFORM) {
    Item* picture = vm.top;
    Item* value = picture - 1;
    TransformValue v;
    if (!describe(value, &v) || !(picture->type == T_NIL || isString(picture))) return opStatus(E_TRANSFORM);
    const char* pic = picture->type == T_NIL ? nullptr : strData(picture);
    const uint32_t picLen = picture->type == T_NIL ? 0 : strLength(picture);
    const TransformContext ctx{currentNumberSettings(), DateFormatter{workingDateText, nullptr}};

    // The output buffer lives for this call only. The value and the picture
    // stay on the stack, so their bytes survive the allocation of the result.
    uint32_t size = transformBufferSize(v, pic, picLen, ctx);
    char* buf = static_cast<char*>(memAlloc(size ? size : 1));
    uint32_t length = 0;
    transform(v, pic, picLen, ctx, buf, size, &length);
    makeString(picture, buf, length);
    memFree(buf);
    *value = *picture;
    pop();
    return 0;
}

}  // namespace xb
