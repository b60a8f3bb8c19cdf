#!/usr/bin/env bash
# Setup check: a fresh Debian machine has only what scripts/install-deps
# installs, those packages' hard dependencies and the essential base system.
# Every system file the last build read (headers from the compiler's depfiles,
# libraries and archives on the link lines) and every shared library a built
# program loads must come from one of those packages, or the build or the
# program fails there although it works here.
#
#   packages.sh BUILD_DIR SOURCE_DIR
#
# Fails with one line per missing package, naming one of its files.
set -euo pipefail

build_dir="$(realpath -e "${1:?usage: packages.sh BUILD_DIR SOURCE_DIR}")"
source_dir="$(realpath -e "${2:?usage: packages.sh BUILD_DIR SOURCE_DIR}")"
install_deps="$source_dir/scripts/install-deps"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# The absolute paths of a list, less the project's own files.
system_paths() {
  awk -v source="$source_dir/" -v build="$build_dir/" \
    '/^\// && index($0, source) != 1 && index($0, build) != 1'
}

# ---------------------------------------------------------------------------
# The packages a fresh machine has
# ---------------------------------------------------------------------------

"$install_deps" --list >"$work/listed"
[ -s "$work/listed" ] || fail "$install_deps --list printed no packages"
mapfile -t listed <"$work/listed"

apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts \
  --no-breaks --no-replaces --no-enhances "${listed[@]}" >"$work/graph" 2>/dev/null \
  || fail "apt-cache depends failed on the listed packages"

# The base system that every Debian machine starts with.
dpkg-query -W -f='${db:Status-Abbrev}|${Package}|${Essential}|${Priority}\n' \
  | awk -F'|' '$1 ~ /^ii/ && ($3 == "yes" || $4 == "required") { print $2 }' >"$work/base"

# Walks the hard dependencies from the listed packages the way apt does on a
# fresh machine: a dependency that the base system or an earlier choice already
# satisfies adds nothing; otherwise the first alternative is installed, and a
# virtual package stands for its first provider. apt-cache's own --recurse
# follows every alternative and every provider, which would accept packages
# that never arrive. Prints the reachable packages (base included), and
# "unknown NAME" for a listed name apt does not know.
awk '
  function bare(name) { gsub(/[<>]/, "", name); sub(/:.*/, "", name); return name }
  function present(name) { return (name in chosen) || (name in base) }
  # True when one alternative of the group is already there (or provided).
  function satisfied(node, g,    a, p) {
    for (a = 1; a <= alts[node, g]; a++) {
      if (present(alt[node, g, a])) return 1
      for (p = 1; p <= providers[node, g, a]; p++)
        if (present(provider[node, g, a, p])) return 1
    }
    return 0
  }
  # The package apt would install for the group, or "" when none can be had.
  function pick(node, g,    a) {
    for (a = 1; a <= alts[node, g]; a++) {
      if (!virtual[node, g, a]) return alt[node, g, a]
      if (providers[node, g, a] > 0) return provider[node, g, a, 1]
    }
    return ""
  }
  FILENAME == ARGV[1] { base[$1] = 1; next }
  FILENAME == ARGV[2] { wanted[++nwanted] = $1; next }
  /^[^ ]/ { node = bare($1); real[node] = ($1 !~ /^</); joined = 0; next }
  /^ [ |](Pre)?Depends: / {
    if (!joined) groups[node]++
    g = groups[node]
    a = ++alts[node, g]
    alt[node, g, a] = bare($2)
    virtual[node, g, a] = ($2 ~ /^</)
    joined = (substr($0, 2, 1) == "|")
    next
  }
  /^    [^ ]/ { provider[node, g, a, ++providers[node, g, a]] = bare($1); next }
  END {
    for (i = 1; i <= nwanted; i++) {
      name = bare(wanted[i])
      if (!real[name]) { print "unknown " name; continue }
      if (!present(name)) { chosen[name] = 1; queue[++tail] = name }
    }
    for (head = 1; head <= tail; head++) {
      node = queue[head]
      for (g = 1; g <= groups[node]; g++) {
        if (satisfied(node, g)) continue
        next_package = pick(node, g)
        if (next_package == "" || present(next_package)) continue
        chosen[next_package] = 1
        queue[++tail] = next_package
      }
    }
    for (name in chosen) print name
    for (name in base) print name
  }
' "$work/base" "$work/listed" "$work/graph" | sort -u >"$work/available"

unknown="$(sed -n 's/^unknown //p' "$work/available")"
[ -z "$unknown" ] || fail "apt knows no package named: $unknown (listed in $install_deps)"

# ---------------------------------------------------------------------------
# The system files the build and the programs use
# ---------------------------------------------------------------------------

mapfile -t depfiles < <(find "$build_dir" -name '*.o.d' -type f)
[ ${#depfiles[@]} -gt 0 ] || fail "no compiler depfiles under $build_dir: build first"
mapfile -t linkfiles < <(find "$build_dir" -path '*/CMakeFiles/*' -name link.txt -type f)

# Headers and link inputs, one a line: the words of the depfiles and link
# lines less the make targets (a depfile escapes a space in a path as "\ ").
cat "${depfiles[@]}" "${linkfiles[@]}" | awk '
  {
    gsub(/\\ /, "\001")
    gsub(/\\/, " ")
    for (i = 1; i <= NF; i++) if ($i !~ /:$/) { gsub(/\001/, " ", $i); print $i }
  }
' | system_paths >"$work/read"

# Shared libraries, as the dynamic loader resolves them for each built program
# (CMake's own probe programs under CMakeFiles/ excepted).
programs=()
while IFS= read -r -d '' file; do
  LC_ALL=C read -r -n 4 magic <"$file" || true
  if [ "$magic" = $'\x7fELF' ]; then programs+=("$file"); fi
done < <(find "$build_dir" -path '*/CMakeFiles' -prune -o -type f -executable -print0)
[ ${#programs[@]} -gt 0 ] || fail "no built programs under $build_dir: build first"
ldd "${programs[@]}" >"$work/ldd" 2>&1 || true
missing_libraries="$(awk '$2 == "=>" && $3 == "not" { print $1 }' "$work/ldd" | sort -u | tr '\n' ' ')"
[ -z "$missing_libraries" ] || fail "the dynamic loader finds no $missing_libraries"
awk '$2 == "=>" { print $3; next } $1 ~ /^\// && $1 !~ /:$/ { print $1 }' "$work/ldd" \
  | system_paths >>"$work/read"

# Regular files only, each once.
sort -u "$work/read" | while IFS= read -r path; do
  if [ -f "$path" ]; then printf '%s\n' "$path"; fi
done >"$work/files"
[ -s "$work/files" ] || fail "the build read no system files (depfiles empty?)"

# ---------------------------------------------------------------------------
# Which package each file comes from
# ---------------------------------------------------------------------------

# dpkg knows a file by the path its package ships: ask for the path as read
# and for its resolved target (the link and the file it points at may come
# from different packages), each also in its other /usr-merged spelling.
xargs -d '\n' realpath -- <"$work/files" >"$work/resolved"
paste "$work/files" "$work/resolved" | awk -F'\t' '
  function spellings(file, path) {
    print file "\t" path
    if (path ~ /^\/usr\/(s?bin|lib(32|64|x32)?)\//) print file "\t" substr(path, 5)
    else if (path ~ /^\/(s?bin|lib(32|64|x32)?)\//) print file "\t/usr" path
  }
  { spellings($1, $1); if ($2 != $1) spellings($1, $2) }
' | sort -u >"$work/queries"

cut -f2 "$work/queries" | sort -u | xargs -d '\n' dpkg-query -S -- \
  >"$work/owners" 2>/dev/null || true

# One line per file whose packages are not all available; "-" for a file no
# package owns (put there by hand: a fresh machine does not have it).
awk -F'\t' '
  FILENAME == ARGV[1] { available[$1] = 1; next }
  FILENAME == ARGV[2] {
    if ($0 ~ /^(local )?diversion /) next
    split_at = index($0, ": ")
    path = substr($0, split_at + 2)
    owners[path] = substr($0, 1, split_at - 1)
    next
  }
  {
    file = $1
    seen[file] = 1
    if (!($2 in owners)) next
    owned[file] = 1
    n = split(owners[$2], names, ", ")
    for (i = 1; i <= n; i++) {
      name = names[i]
      sub(/:.*/, "", name)
      if (!(name in available)) print name "\t" file
    }
  }
  END { for (file in seen) if (!(file in owned)) print "-\t" file }
' "$work/available" "$work/owners" "$work/queries" | sort -u >"$work/missing"

if [ -s "$work/missing" ]; then
  {
    echo "FAIL: a fresh machine lacks what the build uses; $install_deps must install:"
    awk -F'\t' '
      $1 == "-" { print "  no package owns " $2 " (installed by hand?)"; next }
      !($1 in example) { example[$1] = $2; order[++n] = $1 }
      { count[$1]++ }
      END {
        for (i = 1; i <= n; i++) {
          name = order[i]
          more = count[name] > 1 ? " and " count[name] - 1 " more" : ""
          print "  " name " (for " example[name] more ")"
        }
      }
    ' "$work/missing"
  } >&2
  exit 1
fi

echo "PASS: $(wc -l <"$work/files") system files from packages that install-deps brings"
