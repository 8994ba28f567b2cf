#include "addin/variant_util.h"
#include "addin/driver_log.h"

#include <cmath>
#include <limits>

namespace oltra {

void setEmpty(tVariant* v)
{
    v->ullVal = 0;
    v->vt = VTYPE_EMPTY;
}

void setBool(tVariant* v, bool value)
{
    v->ullVal = 0;
    v->bVal = value;
    v->vt = VTYPE_BOOL;
}

void setI4(tVariant* v, int32_t value)
{
    v->ullVal = 0;
    v->lVal = value;
    v->vt = VTYPE_I4;
}

bool readString(const tVariant& v, std::u16string& out)
{
    if (v.vt != VTYPE_PWSTR) return false;
    if (!v.pwstrVal) {
        if (v.wstrLen != 0) return false;
        out.clear();
        return true;
    }
    out.assign(v.pwstrVal, v.wstrLen);
    return true;
}

namespace {

bool integerValue(const tVariant& v, long double& out)
{
    switch (v.vt) {
    case VTYPE_I1: out = v.i8Val; return true;
    case VTYPE_I2: out = v.shortVal; return true;
    case VTYPE_I4:
    case VTYPE_INT: out = v.lVal; return true;
    case VTYPE_UI1: out = v.ui8Val; return true;
    case VTYPE_UI2: out = v.ushortVal; return true;
    case VTYPE_UI4:
    case VTYPE_UINT: out = v.ulVal; return true;
    case VTYPE_I8: out = static_cast<long double>(v.llVal); return true;
    case VTYPE_UI8: out = static_cast<long double>(v.ullVal); return true;
    default: return false;
    }
}

} // namespace

bool readInt32(const tVariant& v, int32_t& out)
{
    long double n = 0;
    if (!integerValue(v, n)) {
        if (v.vt == VTYPE_R8) n = v.dblVal;
        else if (v.vt == VTYPE_R4) n = v.fltVal;
        else return false;
        if (!std::isfinite(n) || n != std::trunc(n)) return false;
    }
    if (n < std::numeric_limits<int32_t>::min() || n > std::numeric_limits<int32_t>::max()) return false;
    out = static_cast<int32_t>(n);
    return true;
}

bool readFlag(const tVariant& v, bool& out)
{
    if (v.vt == VTYPE_BOOL) {
        out = v.bVal;
        return true;
    }
    long double n = 0;
    if (!integerValue(v, n)) return false;
    out = n != 0;
    return true;
}

bool readNumber(const tVariant& v, double& out)
{
    if (v.vt == VTYPE_R8) {
        out = v.dblVal;
        return true;
    }
    if (v.vt == VTYPE_R4) {
        out = v.fltVal;
        return true;
    }
    long double n = 0;
    if (!integerValue(v, n)) return false;
    out = static_cast<double>(n);
    return true;
}

double toDouble(const tVariant& v)
{
    double value = 0;
    if (readNumber(v, value)) return value;
    logError("tVariant to double conversion error!");
    return 0;
}

} // namespace oltra
