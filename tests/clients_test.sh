#!/usr/bin/env bash
# vbconv driven by the tools people drive it from: shell pipes, make, and git
# showing image changes as BASIC lines.  The rules and settings are the ones
# the README gives.
#
#   tests/clients_test.sh VBCONV EXAMPLES_DIR
set -euo pipefail
vbconv=$1
examples=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
fail() { echo "FAILED: $*" >&2; exit 1; }

echo "== pipes"
"$vbconv" --to-text - <"$examples/graphics.bas" | cmp - "$examples/graphics.txt" || fail "image on stdin"
[ "$("$vbconv" --to-text - <"$examples/graphics.bas" | grep -c GOTO)" = 0 ] || fail "grep"
"$vbconv" --to-text - <"$examples/labloop.bas" | grep -q '^   60 IF LABERR' || fail "grep a line"
cat "$examples/labloop.txt" | "$vbconv" --to-basic -o OUT.BAS - >trace
cmp OUT.BAS "$examples/labloop.bas" || fail "text on stdin into a file"
grep -q 'TEXT to BASIC, converted to: OUT.BAS' trace || fail "the trace of a run that writes a file"
# Binary bytes both ways: every byte value in strings and as tokens, and back.
printf '10 PRINT "' >all.txt
for b in $(seq 1 255); do [ "$b" = 10 ] || [ "$b" = 13 ] || [ "$b" = 34 ] || printf "\\$(printf %03o "$b")"; done >>all.txt
printf '"\n20 \x80\xf5\xff\n' >>all.txt
"$vbconv" -q all.txt
"$vbconv" --to-basic - <all.txt | cmp - all.BAS || fail "binary text through a pipe"
cp all.BAS all.bas
"$vbconv" -q all.bas
"$vbconv" --to-text - <all.bas | cmp - all.TXT || fail "binary image through a pipe"
"$vbconv" --to-basic - <all.txt | "$vbconv" --to-text - | cmp - all.TXT || fail "a pipe of both"

echo "== make"
cat >Makefile <<'EOF'
VBCONV = vbconv
%.TXT: %.bas
	$(VBCONV) -q -o $@ $<
%.BAS: %.txt
	$(VBCONV) -q -o $@ $<
EOF
mkdir made && cp Makefile "$examples/graphics.bas" "$examples/labloop.txt" made/
make -s -C made VBCONV="$vbconv" graphics.TXT labloop.BAS >make.out
[ ! -s make.out ] || fail "make printed: $(cat make.out)"
cmp made/graphics.TXT "$examples/graphics.txt" && cmp made/labloop.BAS "$examples/labloop.bas" || fail "make"
make -q -C made VBCONV="$vbconv" graphics.TXT labloop.BAS || fail "make: outputs not up to date"

echo "== git diff of images"
git init -q repo
cd repo
git config user.email tester@example.org
git config user.name tester
printf '*.bas diff=vbconv whitespace=cr-at-eol\n*.BAS diff=vbconv whitespace=cr-at-eol\n' >.gitattributes
git config diff.vbconv.textconv "$vbconv --to-text -o -"
cp "$examples/graphics.bas" prog.bas
git add .gitattributes prog.bas
git commit -q -m image
sed 's/PRINT "DONE"/PRINT "OVER"/' "$examples/graphics.txt" | "$vbconv" -q --to-basic -o prog.bas -
git diff | tr -d '\r' >diff
grep -qx -- '-  110 PRINT "DONE"' diff || fail "git diff: old line: $(cat diff)"
grep -qx -- '+  110 PRINT "OVER"' diff || fail "git diff: new line: $(cat diff)"
[ "$(grep -c '^[-+] ' diff)" = 2 ] || fail "git diff: other lines: $(cat diff)"
git commit -q -am change
git log -p -1 | tr -d '\r' | grep -qx -- '+  110 PRINT "OVER"' || fail "git log -p"
echo "all clients passed"
