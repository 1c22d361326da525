#!/usr/bin/env bash
# Builds the Debian package of a finished build, unpacks it with dpkg -x and
# checks what a bench PC would get: the control fields, programs that run from
# the unpacked tree, a valid desktop entry and MIME package that map *.tvn to
# our icon in every size, the help pages, and man pages that cover every
# command and option of the programs' --help texts.
#
# usage: package_test.sh BUILD_DIR SOURCE_DIR VERSION CPACK SCRATCH_DIR
set -euo pipefail

build=$1 source=$2 version=$3 cpack=$4 scratch=$5
icon_sizes=(16 32 48 64 128 256)

errors=0
fail() { echo "FAIL: $*" >&2; errors=$((errors + 1)); }
fatal() { echo "FAIL: $*" >&2; exit 1; }

for tool in dpkg-deb dpkg-shlibdeps desktop-file-validate xmllint update-mime-database groff gzip; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is missing; scripts/setup installs it"
    exit 77
  fi
done

rm -rf "$scratch"
mkdir -p "$scratch"
if ! "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1; then
  cat "$scratch/cpack.log" >&2
  fatal "cpack -G DEB failed"
fi
shopt -s nullglob
debs=("$scratch"/out/*.deb)
shopt -u nullglob
[ ${#debs[@]} -eq 1 ] || fatal "expected one package in $scratch/out, found ${#debs[@]}"
deb=${debs[0]}

# --- control fields ---------------------------------------------------------
[ "$(basename "$deb")" = "tolvan-tool_${version}_$(dpkg --print-architecture).deb" ] ||
  fail "package file is named $(basename "$deb")"
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = tolvan-tool ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version), the project is $version"
for name in Maintainer Section; do
  [ -n "$(field "$name")" ] || fail "no $name field"
done
# dpkg-shlibdeps ran: the libraries the programs link are named.
depends=$(field Depends)
depend_names=$(tr ',|' '\n' <<<"$depends" | awk '{ print $1 }')
for lib in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6; do
  grep -qxF "$lib" <<<"$depend_names" || fail "Depends lacks $lib: $depends"
done
grep -q dialout <<<"$(field Description)" || fail "the description does not mention the dialout group"

# --- the programs, run from the unpacked tree -------------------------------
root=$scratch/root
dpkg -x "$deb" "$root"
usr=$root/usr
bin=$usr/bin
for program in tolvan tolvan-radiosim tolvan_ide; do
  [ -x "$bin/$program" ] || fatal "$program is not in usr/bin"
  ! ldd "$bin/$program" | grep -F "not found" || fail "$program needs a library that is not installed"
done
# R01.04.00 for 1.4.0: what the programs print must be the package's version.
IFS=. read -r major minor patch <<<"$version"
release=$(printf 'R%02d.%02d.%02d' "$major" "$minor" "$patch")
run() { # run NAME COMMAND...: stdout into $scratch/NAME.out, failing on a non-zero exit
  local name=$1
  shift
  "$@" >"$scratch/$name.out" 2>"$scratch/$name.err" || fail "$* exited with $?: $(cat "$scratch/$name.err")"
}
run tolvan-version "$bin/tolvan" --version
grep -qF "$release" "$scratch/tolvan-version.out" || fail "tolvan --version: $(cat "$scratch/tolvan-version.out")"
run tolvan-help "$bin/tolvan" --help
grep -q '^usage: tolvan ' "$scratch/tolvan-help.out" || fail "tolvan --help prints no usage"
run radiosim-help "$bin/tolvan-radiosim" --help
grep -q '^Usage: tolvan-radiosim ' "$scratch/radiosim-help.out" || fail "tolvan-radiosim --help prints no usage"
mkdir -p "$scratch/home"
run ide-version env QT_QPA_PLATFORM=offscreen HOME="$scratch/home" XDG_DATA_HOME="$scratch/home/data" \
  "$bin/tolvan_ide" --version
grep -qF "$release" "$scratch/ide-version.out" || fail "tolvan_ide --version: $(cat "$scratch/ide-version.out")"

# --- desktop entry, MIME type, icons ----------------------------------------
share=$usr/share
desktop=$share/applications/tolvan-tool.desktop
mime=$share/mime/packages/tolvan-tool.xml
[ -f "$desktop" ] || fatal "no desktop entry"
[ -f "$mime" ] || fatal "no MIME package"
report=$(desktop-file-validate "$desktop" 2>&1) && [ -z "$report" ] || fail "desktop-file-validate: $report"
xmllint --noout "$mime" || fail "xmllint rejects $mime"
exec_name=$(sed -n 's/^Exec=//p' "$desktop")
[ -x "$bin/$exec_name" ] || fail "the desktop entry starts '$exec_name', which the package does not hold"
app_icon=$(sed -n 's/^Icon=//p' "$desktop")

# What a file manager sees: build the MIME database from the package alone.
cp -r "$share/mime" "$scratch/mime"
update-mime-database "$scratch/mime" >/dev/null
type=$(sed -n 's/.*<mime-type type="\([^"]*\)".*/\1/p' "$mime")
grep -qF ":$type:*.tvn" "$scratch/mime/globs2" || fail "*.tvn does not map to '$type'"
grep -qF "<comment>Tolvan Archive Files</comment>" "$mime" || fail "the MIME type is not called Tolvan Archive Files"
doc_icon=$(sed -n "s|^$type:||p" "$scratch/mime/icons")
[ -n "$doc_icon" ] || fail "the MIME type '$type' names no icon"

png_size() { # prints "WxH" of a PNG file, or nothing when it is not one
  local bytes
  read -r -a bytes < <(od -An -tu1 -w24 -N24 "$1")
  [ "${bytes[*]:0:8}" = "137 80 78 71 13 10 26 10" ] || return 0
  local width=$(((bytes[16] << 24) | (bytes[17] << 16) | (bytes[18] << 8) | bytes[19]))
  local height=$(((bytes[20] << 24) | (bytes[21] << 16) | (bytes[22] << 8) | bytes[23]))
  echo "${width}x$height"
}
for size in "${icon_sizes[@]}"; do
  for icon in "apps/$app_icon" "mimetypes/$doc_icon"; do
    file=$share/icons/hicolor/${size}x$size/$icon.png
    if [ ! -f "$file" ]; then
      fail "missing icon ${size}x$size/$icon.png"
    elif [ "$(png_size "$file")" != "${size}x$size" ]; then
      fail "${size}x$size/$icon.png is a '$(png_size "$file")' picture"
    fi
  done
done

# --- help pages and the progress picture ------------------------------------
for page in "$source"/resources/help/*.html; do
  cmp -s "$page" "$share/doc/tolvan-tool/help/$(basename "$page")" || fail "help page $(basename "$page") not installed"
done
cmp -s "$source/resources/pictures/progress.png" "$share/tolvan-tool/progress.png" ||
  fail "progress picture not installed"

# --- man pages --------------------------------------------------------------
# The first column of --help's definition lines: commands, options, timing
# modes, fault triggers and kinds. Metavariables (ARCHIVE, [N]) are left out;
# the words before them make the term ("serial write").
help_terms() {
  awk '/^ +[a-z-]/ {
    line = $0; sub(/^ +/, "", line)
    at = match(line, /  +[^ ]/)
    if (at == 0) next
    n = split(substr(line, 1, at - 1), word, " ")
    term = ""; open = 1
    for (i = 1; i <= n; i++) {
      w = word[i]; gsub(/[][]/, "", w)
      if (w ~ /^--/) print w
      else if (w ~ /^[A-Z][A-Z_]*$/ || w == "") open = 0
      else if (open) term = term == "" ? w : term " " w
    }
    if (term != "") print term
  }' "$1"
  grep -oE -- '--[a-z][a-z-]*' "$1" || true
}
for program in tolvan tolvan-radiosim tolvan_ide; do
  page=$share/man/man1/$program.1.gz
  [ -f "$page" ] || { fail "no man page $program(1)"; continue; }
  gzip -dc "$page" >"$scratch/$program.1"
  lint=$(groff -man -ww -z "$scratch/$program.1" 2>&1) && [ -z "$lint" ] || fail "groff warns on $program(1): $lint"
  # Rendered in lines long enough never to break or hyphenate a word.
  groff -man -Tascii -rLL=10000n -P-c -P-b -P-u -P-o "$scratch/$program.1" >"$scratch/$program.txt"
  grep -qF "Tolvan Tool $version" "$scratch/$program.txt" || fail "$program(1) does not carry version $version"
  for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" ENVIRONMENT "SEE ALSO"; do
    grep -qx "$section" "$scratch/$program.txt" || fail "$program(1) has no $section section"
  done
done
check_terms() { # check_terms HELP_OUTPUT PROGRAM
  local term count=0
  while IFS= read -r term; do
    count=$((count + 1))
    grep -qwF -- "$term" "$scratch/$2.txt" || fail "$2(1) does not mention '$term' of $2 --help"
  done < <(help_terms "$1" | sort -u)
  [ "$count" -ge 10 ] || fail "only $count terms found in $2 --help; the help's layout has changed"
}
check_terms "$scratch/tolvan-help.out" tolvan
check_terms "$scratch/radiosim-help.out" tolvan-radiosim
for word in com.ini ports.conf "TOLVAN_COM<N>" XDG_DATA_HOME FILES; do
  grep -qwF -- "$word" "$scratch/tolvan.txt" || fail "tolvan(1) does not mention $word"
done

[ "$errors" -eq 0 ] || fatal "$errors problems in $(basename "$deb")"
echo "$(basename "$deb"): $(dpkg-deb -c "$deb" | wc -l) entries checked"
