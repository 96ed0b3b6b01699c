#!/usr/bin/env bash
# Fault runs of gridmule-cli on copies of the corpus: disk full, read-only folder and mount,
# the program killed mid-run and run again. Engines are told apart by a private TMPDIR, so
# only this script's engines are ever killed. Needs root for the mounts.
#   bash scripts/faults.sh build/gridmule-cli
set -u
CLI=$(readlink -f "${1:-build/gridmule-cli}")
C=$(readlink -f "$(dirname "$0")/../../shared/corpus" 2>/dev/null || echo /work/shared/corpus)
[ -d "$C" ] || C=/work/shared/corpus
W=$(mktemp -d /tmp/gm-faults.XXXX)
mkdir -p "$W/tmp"
export TMPDIR=$W/tmp LC_ALL=C.UTF-8
mine() { pgrep -f "soffice.*$W/tmp"; }
leftovers() { # folder: temporary files beside the inputs, engines, engine folders
  find "$1" \( -name '.~*' -o -name 'lu*.tmp' -o -name '~$*' -o -name '*.tmp' -o -name '.gm*' \) -print | sed 's/^/  LEFT /'
  mine | sed 's/^/  ENGINE /'; ls "$W/tmp" | sed 's/^/  TMP /'; }
same() { (cd "$1" && md5sum -c "$2" --quiet 2>&1 | sed 's/^/  CHANGED /'); }

echo "== disk full"
mkdir -p "$W/small"
if mount -t tmpfs -o size=400k tmpfs "$W/small"; then
  cp "$C/xls/poi-SimpleMacro.xls" "$C/xlsx/hyperlink01.xlsx" "$C/xlsx/simple01.xlsx" "$W/small/"
  chmod u+w "$W"/small/*
  dd if=/dev/zero of="$W/small/fill" bs=1k count=2000 2>/dev/null
  (cd "$W/small" && md5sum poi-SimpleMacro.xls hyperlink01.xlsx simple01.xlsx > "$W/small.md5")
  F="$W/small/poi-SimpleMacro.xls $W/small/hyperlink01.xlsx $W/small/simple01.xlsx"
  for args in "properties --title T" "print-setup --landscape" "protect --sheets --no-password" \
      "links --remove-hyperlinks" "rows-cols hide --columns B:C" "replace --find a --with b --contains" \
      "sheets hide --position 1"; do
    $CLI $args $F > "$W/out" 2>&1; echo "$args: exit $? $(grep -c failed "$W/out") failed: $(grep -o '磁盘[^	]*' "$W/out" | sort -u | tr '\n' ' ')"
  done
  GRIDMULE_PASSWORD=abc $CLI password --open $F > "$W/out" 2>&1; echo "password: exit $? $(grep -c failed "$W/out") failed"
  $CLI convert --to xlsx --out "$W/small/out" "$W/small/poi-SimpleMacro.xls" > "$W/out" 2>&1; echo "convert: exit $? $(cut -f2,3 "$W/out" | head -1)"
  $CLI merge --out "$W/small/m.xlsx" "$W/small/simple01.xlsx" "$W/small/hyperlink01.xlsx" > "$W/out" 2>&1; echo "merge: exit $? $(ls "$W/small")"
  $CLI stats --out "$W/small/report.txt" $F > "$W/out" 2>&1; echo "stats: exit $? $(tail -1 "$W/out")"
  same "$W/small" "$W/small.md5"; leftovers "$W/small"
  umount "$W/small"
fi

echo "== read-only mount and read-only files"
mkdir -p "$W/in" "$W/ro"
cp "$C/xls/poi-SimpleMacro.xls" "$C/xlsx/hyperlink01.xlsx" "$C/xlsx/hide01.xlsx" "$W/in/"; chmod u+w "$W"/in/*
(cd "$W/in" && md5sum * > "$W/in.md5")
if mount --bind -o ro "$W/in" "$W/ro"; then
  F="$W/ro/poi-SimpleMacro.xls $W/ro/hyperlink01.xlsx $W/ro/hide01.xlsx"
  for args in "print-setup --landscape" "protect --workbook --structure --no-password" "sheets hide --position 1" \
      "links --remove-hyperlinks --make-writable" "set-cells --list $W/cells.xml" "rename --case upper" \
      "rows-cols size --rows 1:2 --height 30"; do
    printf '<Cells><Cell><Row>1</Row><Col>1</Col><Text>x</Text></Cell></Cells>' > "$W/cells.xml"
    $CLI $args $F > "$W/out" 2>&1; echo "$args: exit $? $(cut -f2,3 "$W/out" | sort | uniq -c | tr '\n' ' ')"
  done
  $CLI merge --out "$W/ro/merged.xlsx" "$W/ro/hide01.xlsx" > "$W/out" 2>&1; echo "merge: exit $? $(cut -f2,3 "$W/out" | head -2 | tr '\n' ' ')"
  umount "$W/ro"
fi
chmod a-w "$W/in"/*
$CLI print-setup --landscape "$W/in"/* > "$W/out" 2>&1; echo "read-only files: exit $? $(cut -f2,3 "$W/out" | sort | uniq -c | tr '\n' ' ')"
chmod u+w "$W/in"/*
same "$W/in" "$W/in.md5"; leftovers "$W/in"

echo "== program killed mid-run, then run again"
# Four copies of each .xls, so that the run lasts long enough to be cut at each delay.
rm -rf "$W/k"; mkdir -p "$W/k"
for i in 1 2 3 4; do for f in "$C"/xls/*.xls; do cp "$f" "$W/k/$i-$(basename "$f")"; done; done; chmod u+w "$W"/k/*
for delay in 0.3 1 2.5; do
  $CLI print-setup --landscape --area A1:B2 "$W"/k/* > /dev/null 2>&1 & P=$!
  sleep $delay; kill -9 $P 2>/dev/null || echo "  (the run ended before ${delay}s)"; wait $P 2>/dev/null
  sleep 1
  echo "killed after ${delay}s: $(leftovers "$W/k" | wc -l) leftovers"
  $CLI replace --find zzzz --with y "$W/k/1-poi-SimpleMacro.xls" > /dev/null 2>&1
  echo "  next run: exit $?"; leftovers "$W/k"
  for f in "$W"/k/*.xls; do /usr/bin/python3 -c "import xlrd,sys; xlrd.open_workbook(sys.argv[1])" "$f" 2>/dev/null || echo "  UNREADABLE $f"; done | sort -u | head -5
done
echo "work folder $W"
