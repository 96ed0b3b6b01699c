#include "automation/xls/FormulaTokens.h"

namespace gm::xls {

int formulaTokenSize(const char *token, qsizetype available)
{
    if (available < 1)
        return -1;
    const quint8 ptg = quint8(token[0]);
    const quint8 base = ptg < 0x20 ? ptg : quint8((ptg & 0x1F) | 0x20);
    const char *p = token + 1;
    const qsizetype left = available - 1;
    int size = -1;
    switch (base) {
    case 0x01: // exp, tbl
    case 0x02:
        size = 4;
        break;
    case 0x17: // str
        if (left >= 2)
            size = 2 + quint8(p[0]) * ((p[1] & 0x01) ? 2 : 1);
        break;
    case 0x19: // attr; a choose carries its jump table
        if (left >= 3)
            size = 3 + ((p[0] & 0x04) ? (quint16(quint8(p[1]) | (quint8(p[2]) << 8)) + 1) * 2 : 0);
        break;
    case 0x1C: // err, bool
    case 0x1D:
        size = 1;
        break;
    case 0x1E: // int
        size = 2;
        break;
    case 0x1F: // num
        size = 8;
        break;
    case 0x20: // array (the values follow the expression)
        size = 7;
        break;
    case 0x21: // func
    case 0x29: // memfunc
        size = 2;
        break;
    case 0x22: // funcvar
        size = 3;
        break;
    case 0x23: // name
    case 0x24: // ref
    case 0x2A: // referr
    case 0x2C: // refn
        size = 4;
        break;
    case 0x25: // area
    case 0x2B: // areaerr
    case 0x2D: // arean
        size = 8;
        break;
    case 0x26: // memarea, memerr, memnomem (their areas follow the expression)
    case 0x27:
    case 0x28:
    case 0x39: // namex
    case 0x3A: // ref3d
    case 0x3C: // referr3d
        size = 6;
        break;
    case 0x3B: // area3d
    case 0x3D: // areaerr3d
        size = 10;
        break;
    default:
        if (base >= 0x03 && base <= 0x16)
            size = 0; // operators
        break;
    }
    return size < 0 || size > left ? -1 : size + 1;
}

} // namespace gm::xls
