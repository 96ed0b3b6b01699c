#!/usr/bin/python3
"""Decrypts workbooks with an independent reader (msoffcrypto-tool), for the tests.

    office_decrypt.py PASSWORD-FILE ENCRYPTED OUTPUT [ENCRYPTED OUTPUT ...]

The password is the first line of PASSWORD-FILE (UTF-8). An .xlsx is written out as the
decrypted package, its integrity checked; for an .xls, OUTPUT receives the decrypted Workbook
stream. Exit status 0 when every file decrypted, 3 when a password was refused, 1 for anything
else.
"""
import io
import sys

import msoffcrypto
import olefile


def decrypt(source, password, output):
    with open(source, "rb") as f:
        office = msoffcrypto.OfficeFile(f)
        if not office.is_encrypted():
            print("%s: not encrypted" % source, file=sys.stderr)
            return 1
        try:
            office.load_key(password=password, **({"verify_password": True} if office.format == "ooxml" else {}))
            decrypted = io.BytesIO()
            if office.format == "ooxml":
                office.decrypt(decrypted, verify_integrity=True)
            else:
                office.decrypt(decrypted)
        except msoffcrypto.exceptions.InvalidKeyError as e:
            print("%s: wrong password: %s" % (source, e), file=sys.stderr)
            return 3
    data = decrypted.getvalue()
    if office.format != "ooxml":
        data = olefile.OleFileIO(data).openstream("Workbook").read()
    with open(output, "wb") as f:
        f.write(data)
    return 0


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        password = f.read().split("\n")[0]
    status = 0
    pairs = sys.argv[2:]
    for i in range(0, len(pairs) - 1, 2):
        try:
            result = decrypt(pairs[i], password, pairs[i + 1])
        except Exception as e:  # a file the reader cannot take is reported, the others go on
            print("%s: %s" % (pairs[i], e), file=sys.stderr)
            result = 1
        status = max(status, result)
    return status


if __name__ == "__main__":
    sys.exit(main())
