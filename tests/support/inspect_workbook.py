#!/usr/bin/env python3
"""Reads a workbook with independent readers and prints what the tests compare, as JSON.

  links PATH    hyperlinks per worksheet: openpyxl (.xlsx) or xlrd (.xls)
  values PATH   every cell's value as text per worksheet, from the same readers
  records PATH  .xls only, through olefile: per sheet substream, the background bitmap
                (its payload size with continuations and its first 20 bytes) and the
                number of HLINK / HLINKTOOLTIP records
"""
import json
import struct
import sys


def is_xls(path):
    with open(path, "rb") as f:
        return f.read(8) == b"\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"


def links(path):
    if is_xls(path):
        import xlrd
        book = xlrd.open_workbook(path, formatting_info=True)
        return {s.name: len(s.hyperlink_list) for s in book.sheets()}
    import openpyxl
    book = openpyxl.load_workbook(path)
    return {ws.title: sum(1 for row in ws.iter_rows() for c in row if c.hyperlink is not None) for ws in book.worksheets}


def values(path):
    if is_xls(path):
        import xlrd
        book = xlrd.open_workbook(path)
        return {s.name: [[r, c, str(s.cell_value(r, c))] for r in range(s.nrows) for c in range(s.ncols)
                         if s.cell_value(r, c) != ""] for s in book.sheets()}
    import openpyxl
    book = openpyxl.load_workbook(path)
    return {ws.title: [[c.row, c.column, str(c.value)] for row in ws.iter_rows() for c in row if c.value is not None]
            for ws in book.worksheets}


def records(path):
    import olefile
    ole = olefile.OleFileIO(path)
    name = next(n for n in ("Workbook", "Book") if ole.exists(n))
    data = ole.openstream(name).read()
    result = []
    pos, depth, current, previous = 0, 0, None, None
    while pos + 4 <= len(data):
        rtype, size = struct.unpack_from("<HH", data, pos)
        body = data[pos + 4:pos + 4 + size]
        pos += 4 + size
        if rtype == 0x0809:
            depth += 1
            if depth == 1:
                current = {"background": None, "hlink": 0, "tooltip": 0}
            continue
        if rtype == 0x000A:
            depth -= 1
            if depth == 0:
                result.append(current)
                if pos >= len(data) or data[pos:pos + 2] != b"\x09\x08":
                    break
            continue
        if depth != 1:
            continue
        if rtype == 0x00E9:
            current["background"] = {"size": len(body), "head": body[:20].hex()}
        elif rtype == 0x003C and previous == "background":
            current["background"]["size"] += len(body)
            continue
        elif rtype == 0x01B8:
            current["hlink"] += 1
        elif rtype == 0x0800:
            current["tooltip"] += 1
        previous = "background" if rtype == 0x00E9 else None
    return result[1:]  # the globals first


if __name__ == "__main__":
    mode, path = sys.argv[1], sys.argv[2]
    print(json.dumps({"links": links, "values": values, "records": records}[mode](path), ensure_ascii=False))
