#!/usr/bin/env bash
# The AUTODELETE service at work on a generated tree: the host runs the
# plug-in for three passes, then the request's status and messages, the log's
# last entries and a check that exactly the files the policy selects are gone.
#
# Usage: autodelete-demo.sh [PREFIX]   (where kefhost and the plug-in are
# installed; default /usr/local). Everything it makes lives in one scratch
# folder, removed at the end (KEEP_DEMO=1 keeps it).
set -euo pipefail

PREFIX=${1:-${PREFIX:-/usr/local}}
KEFHOST=$PREFIX/bin/kefhost
PLUGIN=$PREFIX/lib/libtq_AutoDelService.so
DEMO=$(mktemp -d /tmp/kef-autodelete-demo.XXXXXX)
TREE=$DEMO/tree
OUTSIDE=$DEMO/outside
cleanup() {
  if [ "${KEEP_DEMO:-0}" = 1 ]; then echo "(kept $DEMO)"; else rm -rf "$DEMO"; fi
}
trap cleanup EXIT

section() { printf '\n== %s\n' "$*"; }

# Everything the framework reads and writes stays in the scratch folder.
export KEF_CONFIGURATION=$DEMO/config
export KEF_REQUEST_DATABASE=$DEMO/requests.db
export TVAN_REGISTRY_FILE=$DEMO/registry
mkdir -p "$KEF_CONFIGURATION"
sed -e "s|<LogFile>kef.log</LogFile>|<LogFile>$DEMO/kef.log</LogFile>|" \
    -e "s|<StatFile>kef_statistics.txt</StatFile>|<StatFile>$DEMO/kef_statistics.txt</StatFile>|" \
    "$(dirname "$0")/../KEFConfiguration.xml" > "$KEF_CONFIGURATION/KEFConfiguration.xml"

section "Generating the tree"
NOW=$(date +%s)
DAY=86400
declare -A AGE_FILES  # age in days -> file list (one touch per age)
EXPECT_DELETED=$DEMO/expected-deleted.txt
EXPECT_KEPT=$DEMO/expected-kept.txt
: > "$EXPECT_DELETED"
: > "$EXPECT_KEPT"

PAYLOAD=$(printf '%01024d' 0)  # 1 KiB a file

# add FILE AGE_DAYS DELETED(yes/no)
add() {
  printf '%s' "$PAYLOAD" > "$1"
  AGE_FILES[$2]+="$1"$'\n'
  if [ "$3" = yes ]; then echo "$1" >> "$EXPECT_DELETED"; else echo "$1" >> "$EXPECT_KEPT"; fi
}

# The policy: *.dcm and *.tmp files older than 30 days, except *.keep and
# anything under archive/; empty folders go too.
for d in $(seq -w 0 9); do
  for s in $(seq -w 0 9); do
    dir=$TREE/studies/$d/$s
    mkdir -p "$dir"
    for i in $(seq 0 29); do
      case $((i % 6)) in
        0|1) add "$dir/img$i.dcm" 45 yes ;;   # old and included
        2)   add "$dir/img$i.dcm" 10 no ;;    # too young
        3)   add "$dir/scratch$i.tmp" 90 yes ;;
        4)   add "$dir/notes$i.txt" 90 no ;;  # not included
        5)   add "$dir/img$i.dcm.keep" 90 no ;;  # protected
      esac
    done
  done
done
mkdir -p "$TREE/archive/2020" "$TREE/emptied/deep" "$TREE/locked" "$OUTSIDE"
for i in $(seq 0 49); do add "$TREE/archive/2020/img$i.dcm" 400 no; done
for i in $(seq 0 9); do add "$TREE/emptied/deep/img$i.dcm" 60 yes; done
for i in $(seq 0 19); do add "$TREE/locked/img$i.dcm" 60 no; done   # another process holds it
for i in $(seq 0 19); do add "$OUTSIDE/img$i.dcm" 60 no; done       # reached only by a link
add "$TREE/KEFConfiguration.xml" 90 no
ln -s "$OUTSIDE" "$TREE/outside-link"
for age in "${!AGE_FILES[@]}"; do
  printf '%s' "${AGE_FILES[$age]}" | xargs -d '\n' touch -d "@$((NOW - age * DAY))"
done
echo "$(wc -l < "$EXPECT_DELETED") files the policy selects, $(wc -l < "$EXPECT_KEPT") it keeps" \
     "(a folder held locked, a link to a folder outside, protected and young files)"

# This shell holds the locked folder for the whole run (descriptor 9, which
# the host does not inherit): to the host it is another process's lock.
exec 9<"$TREE/locked"
flock -x 9

SERVICE_ID="AUTODELETE|demo|$NOW.000"
REQUEST_UID="demo-$NOW"
cat > "$DEMO/autodelete-service.xml" <<XML
<AutoDelete>
  <ServiceID>$SERVICE_ID</ServiceID>
  <ServiceName>AUTODELETE</ServiceName>
  <uid>$REQUEST_UID</uid>
  <Policy>
    <Root>$TREE</Root>
    <MaxAgeDays>30</MaxAgeDays>
    <AgeBy>mtime</AgeBy>
    <Include>*.dcm</Include>
    <Include>*.tmp</Include>
    <Protect>*.keep</Protect>
    <Protect>archive/*</Protect>
    <RemoveEmptyDirs>yes</RemoveEmptyDirs>
    <DryRun>no</DryRun>
    <IntervalSeconds>2</IntervalSeconds>
  </Policy>
</AutoDelete>
XML

section "kefhost run --passes 3"
"$KEFHOST" run --plugin "$PLUGIN" --service-data "$DEMO/autodelete-service.xml" --passes 3 9<&-

section "The request (kef_requests list)"
"$PREFIX/bin/kef_requests" list

section "Its messages (kef_requests messages --request '$SERVICE_ID')"
"$PREFIX/bin/kef_requests" messages --request "$SERVICE_ID" | tail -n 40

section "The service's last log entries (tvan_logread -c AUTODELETE)"
"$PREFIX/bin/tvan_logread" -c AUTODELETE "$DEMO/kef.log" | tail -n 12

section "Check"
exec 9<&-
failures=0
while read -r f; do
  [ -e "$f" ] && { echo "should be deleted, still there: $f"; failures=$((failures + 1)); }
done < "$EXPECT_DELETED"
while read -r f; do
  [ -e "$f" ] || { echo "should be kept, deleted: $f"; failures=$((failures + 1)); }
done < "$EXPECT_KEPT"
[ -d "$TREE/emptied" ] && { echo "emptied folder still there"; failures=$((failures + 1)); }
[ -L "$TREE/outside-link" ] || { echo "the link went"; failures=$((failures + 1)); }
if [ "$failures" -eq 0 ]; then
  echo "OK: the $(wc -l < "$EXPECT_DELETED") selected files are gone, the $(wc -l < "$EXPECT_KEPT") others" \
       "are all there, the emptied folders were removed, nothing outside the root was touched"
else
  echo "FAILED: $failures differences"
  exit 1
fi
