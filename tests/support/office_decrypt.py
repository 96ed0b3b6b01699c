#!/usr/bin/python3
"""Decrypts a workbook with an independent reader (msoffcrypto-tool), for the tests.

    office_decrypt.py ENCRYPTED PASSWORD-FILE OUTPUT

The password is the first line of PASSWORD-FILE (UTF-8). An .xlsx is written out as the
decrypted package, its integrity checked; for an .xls, OUTPUT receives the decrypted Workbook
stream. Exit status 0 on success, 3 for a wrong password, 1 for anything else.
"""
import io
import sys

import msoffcrypto
import olefile


def main():
    source, password_file, output = sys.argv[1:4]
    with open(password_file, encoding="utf-8") as f:
        password = f.read().split("\n")[0]
    with open(source, "rb") as f:
        office = msoffcrypto.OfficeFile(f)
        if not office.is_encrypted():
            print("not encrypted", file=sys.stderr)
            return 1
        try:
            office.load_key(password=password, **({"verify_password": True} if office.format == "ooxml" else {}))
            decrypted = io.BytesIO()
            if office.format == "ooxml":
                office.decrypt(decrypted, verify_integrity=True)
            else:
                office.decrypt(decrypted)
        except msoffcrypto.exceptions.InvalidKeyError as e:
            print("wrong password: %s" % e, file=sys.stderr)
            return 3
    data = decrypted.getvalue()
    if office.format != "ooxml":
        data = olefile.OleFileIO(data).openstream("Workbook").read()
    with open(output, "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
