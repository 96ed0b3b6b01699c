#!/usr/bin/python3
"""Runs commands of gridmule-cli over a copy of the workbook corpus plus a few odd files and
checks what a user relies on: every file is either reported changed (and still readable) or
reported failed/skipped and byte-identical; no temporary file is left beside the inputs or in
the temporary folder; no engine outlives the run; the exit status matches the results.

    /usr/bin/python3 scripts/sweep.py build/gridmule-cli [COMMAND-NAME...]

Every run gets its own copy of the corpus and its own TMPDIR, so that only the engines of this
sweep are looked at (and killed when one is left over). Faults are printed as FAULT lines;
the work folder is kept for a look afterwards.
"""
import hashlib
import json
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import zipfile

CORPUS = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'shared', 'corpus')
if not os.path.isdir(CORPUS):
    CORPUS = '/work/shared/corpus'


def cfb(streams):
    """A compound file (version 3) holding small streams, all in the mini stream."""
    mini = b''
    entries = []
    for name, data in streams:
        start = len(mini) // 64
        mini += data + b'\0' * (-len(data) % 64)
        entries.append((name, start, len(data)))
    sectors_mini = (len(mini) + 511) // 512 or 1
    mini_padded = mini + b'\0' * (sectors_mini * 512 - len(mini))
    # sector 0 FAT, 1 directory, 2 mini FAT, 3.. mini stream
    fat = [0xFFFFFFFD, 0xFFFFFFFE, 0xFFFFFFFE]
    for i in range(sectors_mini):
        fat.append(4 + i if i + 1 < sectors_mini else 0xFFFFFFFE)
    fat += [0xFFFFFFFF] * (128 - len(fat))
    minifat = []
    for _, start, size in entries:
        count = max(1, (size + 63) // 64)
        for i in range(count):
            minifat.append(start + i + 1 if i + 1 < count else 0xFFFFFFFE)
    minifat += [0xFFFFFFFF] * (128 - len(minifat))

    def dirent(name, kind, child, right, start, size):
        raw = name.encode('utf-16-le') + b'\0\0'
        return (raw.ljust(64, b'\0') + struct.pack('<HBB', len(raw), kind, 1)
                + struct.pack('<III', 0xFFFFFFFF, right, child) + b'\0' * 16 + b'\0' * 4
                + b'\0' * 16 + struct.pack('<II', start, size) + b'\0' * 4)
    directory = dirent('Root Entry', 5, 1, 0xFFFFFFFF, 3, len(mini))
    for i, (name, start, size) in enumerate(entries):
        right = i + 2 if i + 1 < len(entries) else 0xFFFFFFFF
        directory += dirent(name, 2, 0xFFFFFFFF, right, start, size)
    directory = directory.ljust(512, b'\0')
    header = (bytes.fromhex('D0CF11E0A1B11AE1') + b'\0' * 16
              + struct.pack('<HHHHH', 0x3E, 3, 0xFFFE, 9, 6) + b'\0' * 6
              + struct.pack('<IIIIIIIII', 0, 1, 1, 0, 4096, 2, 1, 0xFFFFFFFE, 0)
              + struct.pack('<I', 0) + struct.pack('<I', 0xFFFFFFFF) * 108)
    return (header + struct.pack('<128I', *fat) + directory + struct.pack('<128I', *minifat)
            + mini_padded)


def xlsx(sheets, cols=''):
    """A minimal workbook: sheets is a list of (name, [[cell text...]...])."""
    import io
    from xml.sax.saxutils import escape, quoteattr
    out = io.BytesIO()
    with zipfile.ZipFile(out, 'w', zipfile.ZIP_DEFLATED) as z:
        z.writestr('[Content_Types].xml',
                   '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
                   '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
                   '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
                   '<Default Extension="xml" ContentType="application/xml"/>'
                   '<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
                   + ''.join('<Override PartName="/xl/worksheets/sheet%d.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>' % (i + 1) for i in range(len(sheets)))
                   + '</Types>')
        z.writestr('_rels/.rels',
                   '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
                   '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
                   '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/>'
                   '</Relationships>')
        z.writestr('xl/workbook.xml',
                   '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
                   '<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
                   'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheets>'
                   + ''.join('<sheet name=%s sheetId="%d" r:id="rId%d"/>' % (quoteattr(n), i + 1, i + 1)
                             for i, (n, _) in enumerate(sheets))
                   + '</sheets></workbook>')
        z.writestr('xl/_rels/workbook.xml.rels',
                   '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
                   '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
                   + ''.join('<Relationship Id="rId%d" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet%d.xml"/>' % (i + 1, i + 1) for i in range(len(sheets)))
                   + '</Relationships>')
        for i, (_, rows) in enumerate(sheets):
            data = ''
            for r, row in enumerate(rows):
                data += '<row r="%d">' % (r + 1) + ''.join(
                    '<c r="%s%d" t="inlineStr"><is><t>%s</t></is></c>' % (chr(65 + c), r + 1, escape(v))
                    for c, v in enumerate(row)) + '</row>'
            z.writestr('xl/worksheets/sheet%d.xml' % (i + 1),
                       '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
                       '<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">'
                       + (('<cols>%s</cols>' % cols) if cols else '')
                       + '<sheetData>' + data + '</sheetData></worksheet>')
    return out.getvalue()


def make_odd_files(folder):
    bof = struct.pack('<HHHHHHII', 0x0809, 16, 0x0600, 0x0005, 0x0DBB, 0x07CC, 0, 6)
    plain = xlsx([('Sheet1', [['a', 'b'], ['1', '2']])])
    files = {
        'odd-empty-zip.xlsx': b'PK\x05\x06' + b'\0' * 18,
        'odd-zero-bytes.xlsx': b'',
        'odd-zero-bytes.xls': b'',
        'odd-truncated.xlsx': plain[:len(plain) // 2],
        'odd-bof-only.xls': cfb([('Workbook', bof)]),
        'odd-bof-eof.xls': cfb([('Workbook', bof + struct.pack('<HH', 0x000A, 0))]),
        'odd-csv-renamed.xlsx': b'name,value\nalpha,1\nbeta,2\n',
        'odd-csv-renamed.xls': b'name,value\nalpha,1\nbeta,2\n',
        'odd-text-garbage.xls': b'\xd0\xcf\x11\xe0' + b'garbage' * 10,
        'odd-huge-widths.xlsx': xlsx([('Sheet1', [['wide', 'x'], ['1', '2']])],
                                     cols='<col min="1" max="2" width="65535" customWidth="1"/>'
                                          '<col min="3" max="16384" width="1E+300" customWidth="1"/>'),
        "odd-quoted-names.xlsx": xlsx([("O'Brien's 表", [['a']]), ('数据 (1)', [['b', 'c']]),
                                       ("'", [['q']]), ('Sheet 1', [['d']])]),
    }
    for name, data in files.items():
        with open(os.path.join(folder, name), 'wb') as f:
            f.write(data)


def md5(path):
    with open(path, 'rb') as f:
        return hashlib.md5(f.read()).hexdigest()


READER = r"""
import json, sys, zipfile
out = {}
for p in sys.argv[1:]:
    try:
        with open(p, "rb") as f:
            head = f.read(8)
        if head.startswith(b"PK"):
            import openpyxl
            bad = zipfile.ZipFile(p).testzip()
            assert bad is None, "bad zip entry " + str(bad)
            openpyxl.load_workbook(p)
        else:
            import xlrd
            xlrd.open_workbook(p)
        out[p] = None
    except Exception as e:
        out[p] = (type(e).__name__ + ": " + str(e))[:200]
print(json.dumps(out))
"""


def readable(paths):
    """For each path: None when our independent readers open the file, else their complaint."""
    if not paths:
        return {}
    r = subprocess.run(['/usr/bin/python3', '-W', 'ignore', '-c', READER] + list(paths),
                       capture_output=True, text=True, timeout=1800)
    try:
        return json.loads(r.stdout)
    except ValueError:
        return {p: 'reader crashed: ' + r.stderr[-200:] for p in paths}


def my_engines(tmp):
    found = []
    for pid in os.listdir('/proc'):
        if not pid.isdigit():
            continue
        try:
            with open('/proc/%s/cmdline' % pid, 'rb') as f:
                cmd = f.read().decode('utf-8', 'replace')
        except OSError:
            continue
        if tmp in cmd and 'soffice' in cmd:
            found.append(int(pid))
    return found


class Sweep:
    def __init__(self, cli):
        self.cli = os.path.abspath(cli)
        self.work = tempfile.mkdtemp(prefix='gm-sweep-')
        self.faults = []
        self.odd = os.path.join(self.work, 'odd')
        os.makedirs(self.odd)
        make_odd_files(self.odd)
        self.readable_before = {}
        every = self.inputs(os.path.join(self.work, 'pristine'))
        for path, complaint in readable(every).items():
            self.readable_before[os.path.basename(path)] = complaint is None

    def fault(self, command, path, what):
        line = 'FAULT\t%s\t%s\t%s' % (command, os.path.basename(path) if path else '-', what)
        print(line, flush=True)
        self.faults.append(line)

    def inputs(self, folder, sets=('xls', 'xlsx', 'encrypted', 'bad', 'odd')):
        os.makedirs(folder)
        for s in sets:
            src = self.odd if s == 'odd' else os.path.join(CORPUS, s)
            for name in sorted(os.listdir(src)):
                target = os.path.join(folder, name)
                if os.path.exists(target):
                    target = os.path.join(folder, s + '-' + name)
                shutil.copyfile(os.path.join(src, name), target)
        return sorted(os.path.join(folder, n) for n in os.listdir(folder))

    def run(self, label, args, sets=('xls', 'xlsx', 'encrypted', 'bad', 'odd'), outputs=(),
            in_place=True, timeout=3600, env=None, check=None, partial=False):
        """Runs one command over a fresh copy; outputs are paths the command may create. With
        partial, a failed file may still be changed: the command saves the writes that worked."""
        base = os.path.join(self.work, label)
        folder = os.path.join(base, 'in')
        tmp = os.path.join(base, 'tmp')
        os.makedirs(tmp)
        files = self.inputs(folder, sets)
        before = {p: md5(p) for p in files}
        environment = dict(os.environ, TMPDIR=tmp, LC_ALL='C.UTF-8')
        environment.update(env or {})
        argv = [self.cli] + [a.replace('@BASE', base) for a in args] + ['--output', 'jsonl'] + files
        started = time.time()
        try:
            proc = subprocess.run(argv, capture_output=True, text=True, env=environment,
                                  timeout=timeout, stdin=subprocess.DEVNULL)
        except subprocess.TimeoutExpired:
            self.fault(label, None, 'hung: no end after %d s' % timeout)
            for pid in my_engines(tmp):
                os.kill(pid, signal.SIGKILL)
            return
        seconds = time.time() - started
        with open(os.path.join(base, 'stdout.jsonl'), 'w') as f:
            f.write(proc.stdout)
        with open(os.path.join(base, 'stderr.txt'), 'w') as f:
            f.write(proc.stderr)
        results = {}
        for line in proc.stdout.splitlines():
            try:
                record = json.loads(line)
            except ValueError:
                continue
            if 'path' in record:
                results[record['path']] = record
        counts = {}
        to_read = []
        for path in files:
            record = results.get(path)
            if record is None:
                self.fault(label, path, 'no result line')
                continue
            result = record['result']
            counts[result] = counts.get(result, 0) + 1
            if not os.path.exists(path):
                if in_place:
                    self.fault(label, path, 'input file gone (%s)' % result)
                continue
            same = md5(path) == before[path]
            if result in ('failed', 'skipped', 'cancelled') and not same and not (partial and result == 'failed'):
                self.fault(label, path, '%s but changed: %s' % (result, record.get('description')))
            if result == 'failed' and not record.get('description'):
                self.fault(label, path, 'failed without a message')
            if result == 'changed' and in_place:
                if same:
                    counts['changed, nothing to do'] = counts.get('changed, nothing to do', 0) + 1
                elif self.readable_before.get(os.path.basename(path)):
                    to_read.append(path)
            if check and result == 'changed':
                complaint = check(path, record)
                if complaint:
                    self.fault(label, path, complaint)
        for path, complaint in readable(to_read).items():
            if complaint:
                self.fault(label, path, 'changed file no longer readable: ' + complaint)
        expected = {os.path.basename(p) for p in files} | {os.path.basename(o.replace('@BASE', base)) for o in outputs}
        left = set(os.listdir(folder)) - expected
        if in_place and left:
            self.fault(label, folder, 'left beside the inputs: %s' % sorted(left))
        tmp_left = os.listdir(tmp)
        if tmp_left:
            self.fault(label, tmp, 'left in the temporary folder: %s' % sorted(tmp_left)[:5])
        engines = my_engines(tmp)
        if engines:
            self.fault(label, None, 'engines left running: %s' % engines)
            for pid in engines:
                os.kill(pid, signal.SIGKILL)
        failed = counts.get('failed', 0) + counts.get('cancelled', 0)
        wanted = 1 if failed else 0
        if proc.returncode != wanted and not (proc.returncode == 1 and counts.get('cancelled')):
            self.fault(label, None, 'exit %d with %s' % (proc.returncode, counts))
        for line in proc.stderr.splitlines()[:3]:
            print('  stderr: ' + line[:200])
        print('RUN\t%s\texit %d\t%.0f s\t%s' % (label, proc.returncode, seconds, counts), flush=True)
        return results


def main():
    cli = sys.argv[1]
    wanted = set(sys.argv[2:])
    s = Sweep(cli)
    print('work folder ' + s.work, flush=True)
    pic = os.path.join(s.work, 'pic.png')
    subprocess.run(['/usr/bin/python3', '-c', 'import sys,zlib,struct\n'
                    'def c(t,d): return struct.pack(">I",len(d))+t+d+struct.pack(">I",zlib.crc32(t+d)&0xffffffff)\n'
                    'raw=b"".join(b"\\0"+b"\\xc8\\x1e\\x1e"*8 for _ in range(8))\n'
                    'open(sys.argv[1],"wb").write(b"\\x89PNG\\r\\n\\x1a\\n"+c(b"IHDR",struct.pack(">IIBBBBB",8,8,8,2,0,0,0))+c(b"IDAT",zlib.compress(raw))+c(b"IEND",b""))',
                    pic], check=True)
    cells = os.path.join(s.work, 'cells.xml')
    with open(cells, 'w') as f:
        f.write('<Cells><Cell><Row>2</Row><Col>2</Col><Text>=1+1</Text></Cell>'
                '<Cell><Row>1</Row><Col>1</Col><Text>表 1</Text></Cell></Cells>')
    password = os.path.join(s.work, 'pw.txt')
    with open(password, 'w') as f:
        f.write('abc\n')
    template = os.path.join(CORPUS, 'xlsx', 'header01.xlsx')
    source = os.path.join(CORPUS, 'xlsx', 'simple01.xlsx')
    runs = [
        ('properties', ['properties', '--title', 'T 表', '--author', 'A']),
        ('print-setup', ['print-setup', '--area', 'A1:E100', '--landscape']),
        ('header-footer', ['header-footer', '--template', template]),
        ('protect-workbook', ['protect', '--workbook', '--structure', '--no-password']),
        ('protect-sheets', ['protect', '--sheets', '--allow', 'sort', '--password-file', password]),
        ('password-open', ['password', '--open', '--password-file', password]),
        ('password-modify', ['password', '--modify', '--password-file', password]),
        ('links-remove', ['links', '--remove-hyperlinks']),
        ('links-share', ['links', '--share']),
        ('links-unshare', ['links', '--unshare']),
        ('background-set', ['background', '--set', pic]),
        ('background-remove', ['background', '--remove']),
        ('sheets-hide', ['sheets', 'hide', '--position', '1']),
        ('sheets-unhide', ['sheets', 'unhide', '--all']),
        ('sheets-rename', ['sheets', 'rename', '--replace', 'Sheet', '--with', "表'"], dict(partial=True)),
        ('sheets-delete', ['sheets', 'delete', '--position', '2', '--yes']),
        ('sheets-insert', ['sheets', 'insert', '--source', source, '--source-sheet', 'Sheet1']),
        ('rows-cols-hide', ['rows-cols', 'hide', '--columns', 'C:E', '--rows', '3:7']),
        ('rows-cols-size', ['rows-cols', 'size', '--columns', 'B:B', '--width', '30', '--rows', '2:4',
                            '--height', '40', '--all-sheets']),
        ('rows-cols-delete', ['rows-cols', 'delete', '--rows', '2:3', '--yes']),
        ('replace', ['replace', '--find', 'a', '--with', 'ä', '--contains']),
        ('set-cells', ['set-cells', '--list', cells], dict(partial=True)),
        ('stats', ['stats', '--out', '@BASE/in/report.txt'], dict(outputs=['@BASE/in/report.txt'])),
        ('merge', ['merge', '--out', '@BASE/merged.xlsx', '--book-names']),
        ('print-dry', ['print', '--dry-run']),
        ('rename', ['rename', '--case', 'upper'], dict(in_place=False)),
        ('convert-csv', ['convert', '--to', 'csv', '--out', '@BASE/out']),
        ('convert-xlsx', ['convert', '--to', 'xlsx', '--out', '@BASE/out']),
        ('convert-xls', ['convert', '--to', 'xls', '--out', '@BASE/out']),
        ('convert-htm', ['convert', '--to', 'htm', '--out', '@BASE/out']),
    ]
    for run in runs:
        label, args = run[0], run[1]
        options = run[2] if len(run) > 2 else {}
        if wanted and label not in wanted:
            continue
        s.run(label, args, **options)
    print('%d faults; work folder %s' % (len(s.faults), s.work))


if __name__ == '__main__':
    main()
