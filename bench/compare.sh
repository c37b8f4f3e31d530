#!/usr/bin/env bash
# Formix4's body parser beside its peers on the same bodies, parse only, from
# memory, in one run: busboy (npm), python3-multipart (Debian), and for
# URL-encoded bodies Python's urllib.parse.parse_qsl and Node's
# URLSearchParams. The component is registered as the site registers it.
#   bench/compare.sh
# Prints MB/s per shape and the ratio to the best peer; then two parses in
# parallel against one, and the memory a parsed form holds per item.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
/usr/bin/python3 -c 'import multipart' 2>/dev/null ||
  { sudo_cmd=(); [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends python3 python3-multipart; }
[ -d bench/compare/node_modules/busboy ] || (cd bench/compare && npm ci --no-audit --no-fund)
scripts/build.sh build-bench -DCMAKE_BUILD_TYPE=Release -DBUILD_BIDBENCH=OFF >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export PLATFORM_REGISTRY_DIR=$work/registry
scripts/register.sh build-bench
parse=build-bench/bench/parse_bench
compare=bench/compare
bodies=$(/usr/bin/python3 $compare/make-bodies.py "$work/bodies")
boundary=$(tail -n 1 <<<"$bodies")

peer() {  # the speed a peer prints, or "-" for a peer that does not read the shape
  local speed items
  read -r speed items < <("$@") || { echo "-"; return; }
  [ "$items" = "$ours_items" ] || echo "warning: $1 $2 saw $items items, Formix4 $ours_items" >&2
  echo "$speed"
}

printf '| %-54s | %8s | %8s | %17s | %9s | %15s | %5s |\n' shape Formix4 busboy python3-multipart parse_qsl \
  URLSearchParams ratio
echo '|--------------------------------------------------------|---------:|---------:|------------------:|----------:|----------------:|------:|'
while read -r file kind label; do
  [ -n "$kind" ] || continue
  read -r ours ours_items < <($parse --body "$file")
  if [ "$kind" = multipart ]; then
    bus=$(peer node $compare/busboy-parse.mjs "$file" multipart "$boundary")
    py=$(peer /usr/bin/python3 $compare/python-parse.py "$file" multipart "$boundary")
    qsl=- usp=-
  else
    bus=$(peer node $compare/busboy-parse.mjs "$file" urlencoded)
    py=$(peer /usr/bin/python3 $compare/python-parse.py "$file" urlencoded)
    qsl=$(peer /usr/bin/python3 $compare/python-parse.py "$file" parse_qsl)
    usp=$(peer node $compare/urlsearchparams-parse.mjs "$file")
  fi
  best=$(printf '%s\n' "$bus" "$py" "$qsl" "$usp" | grep -v '^-$' | sort -g | tail -n 1)
  ratio=$(awk -v a="$ours" -v b="$best" 'BEGIN { printf "%.2f", a / b }')
  printf '| %-54s | %8s | %8s | %17s | %9s | %15s | %5s |\n' "${label//_/ }" "$ours" "$bus" "$py" "$qsl" "$usp" \
    "$ratio"
done <<<"$bodies"

echo
echo "Two parses at once on two threads against one (40,000 text fields; 200,000 pairs):"
$parse --parallel "$work/bodies/text-distinct.body"
$parse --parallel "$work/bodies/pairs-short.body"
echo "Memory a parsed form holds (anonymous RSS gained):"
for body in text-distinct text-100-names files-1k pairs-short; do
  printf '%-16s %s\n' "$body" "$($parse --heap "$work/bodies/$body.body")"
done
