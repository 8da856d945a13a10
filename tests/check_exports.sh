#!/usr/bin/env bash
# Checks the export and import tables of the built binaries.
#
#   check_exports.sh native BINDIR NM
#       libETLANdr.so defines exactly one dynamic symbol, VpiMain, and holds
#       no test code.
#   check_exports.sh mingw BINDIR OBJDUMP
#       ETLANdr.dll exports exactly one name, VpiMain, undecorated; it imports
#       err, QanMkClient, QanGetQanproVer and QanRmClient from QANPRO.dll by
#       name; and every .dll/.exe in BINDIR imports only Windows system DLLs
#       and our own, so no compiler runtime DLL has to travel with them.
#       ETLANdr.dll, etlan.exe and etlan-sim.exe carry a version resource
#       (type 16), and ETLANdr.dll still its "Tag Format" dialog (type 5,
#       101).
#
# Prints one line per finding and exits 1 when there is any.
set -euo pipefail

mode=${1:?usage: check_exports.sh native|mingw BINDIR TOOL}
bindir=${2:?usage: check_exports.sh native|mingw BINDIR TOOL}
tool=${3:?usage: check_exports.sh native|mingw BINDIR TOOL}

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# Symbols that some linkers add to every shared object's dynamic table; they
# are not part of the library's interface.
linker_symbols='^(_init|_fini|_edata|_end|__bss_start|_DYNAMIC|_GLOBAL_OFFSET_TABLE_)$'

check_native() {
  local lib="$bindir/libETLANdr.so"
  [ -f "$lib" ] || { fail "$lib not found"; return; }
  local all names
  all=$("$tool" -D --defined-only "$lib" | awk 'NF >= 3 { print $3 }' | sort -u)
  names=$(grep -Ev "$linker_symbols" <<<"$all" || true)
  if [ "$names" != "VpiMain" ]; then
    fail "libETLANdr.so must define exactly one dynamic symbol, VpiMain; it defines:"
    sed 's/^/    /' <<<"$names"
  fi
  local kind
  kind=$("$tool" -D --defined-only "$lib" | awk '$3 == "VpiMain" { print $2 }')
  [ "$kind" = "T" ] || fail "VpiMain is not a global function in libETLANdr.so (nm type '$kind')"
  # The shipped library holds no test code: neither the in-memory sockets
  # nor the scripted dialog user nor GoogleTest.
  local test_code
  test_code=$("$tool" -C --defined-only "$lib" | grep -E 'memplat::|plat::memory::|testing::' || true)
  if [ -n "$test_code" ]; then
    fail "libETLANdr.so holds test code:"
    head -n 10 <<<"$test_code" | sed 's/^/    /'
  fi
}

# Names in the export table of a PE file, one a line.
pe_exports() {
  "$tool" -p "$1" | awk '
    /^\[Ordinal\/Name Pointer\] Table/ { in_table = 1; next }
    in_table && /^[[:space:]]*$/ { in_table = 0 }
    in_table { print $NF }'
}

# "DLL<TAB>name" for every import of a PE file; by-ordinal imports give
# "DLL<TAB>#ordinal".
pe_imports() {
  "$tool" -p "$1" | awk '
    /^The Import Tables/ { in_imports = 1; next }
    /^(The Export Tables|There is an export table|PE File Base Relocations|The Function Table)/ { in_imports = 0 }
    !in_imports { next }
    /DLL Name:/ { dll = $3; next }
    /vma:/ { next }
    dll != "" && NF >= 3 && $1 ~ /^[0-9a-fA-F]+$/ { print dll "\t" $3; next }
    dll != "" && NF == 2 && $1 ~ /^[0-9a-fA-F]+$/ { print dll "\t#" $2; next }
    /^[[:space:]]*$/ { next }'
}

# "TYPE/NAME" (decimal) for every resource of a PE file, one a line.
pe_resources() {
  "$tool" -p "$1" | awk '
    function hex(text,   i, n) {
      text = tolower(text); sub(/^0x/, "", text); sub(/,$/, "", text); n = 0
      for (i = 1; i <= length(text); i++) n = n * 16 + index("0123456789abcdef", substr(text, i, 1)) - 1
      return n
    }
    /Resource Directory section/ { in_rsrc = 1; next }
    /Resources start at offset/ { in_rsrc = 0 }
    in_rsrc && /Entry: ID:/ {
      match($0, /^[0-9a-fA-F]+ +/); depth = RLENGTH - length($1)
      id = hex($4)
      if (depth == 3) type = id
      else if (depth == 5) print type "/" id
    }'
}

# DLLs a program may need beside itself: parts of Windows, and our own.
allowed_dll='^(kernel32|user32|gdi32|advapi32|comctl32|comdlg32|shell32|shlwapi|ole32|oleaut32|ws2_32|wsock32|mswsock|msvcrt|ucrtbase|ntdll|winmm|version|iphlpapi|bcrypt|crypt32|secur32|api-ms-win-[a-z0-9-]+|etlandr|qanpro)\.dll$'

check_mingw() {
  local dll="$bindir/ETLANdr.dll"
  [ -f "$dll" ] || { fail "$dll not found"; return; }

  local exports
  exports=$(pe_exports "$dll")
  if [ "$exports" != "VpiMain" ]; then
    fail "ETLANdr.dll must export exactly one name, VpiMain (undecorated); it exports:"
    sed 's/^/    /' <<<"${exports:-<nothing>}"
  fi

  local imports
  imports=$(pe_imports "$dll")
  local name
  for name in err QanMkClient QanGetQanproVer QanRmClient; do
    grep -qxF "QANPRO.dll	$name" <<<"$imports" ||
      fail "ETLANdr.dll does not import $name from QANPRO.dll by name"
  done

  local resources file
  for file in ETLANdr.dll etlan.exe etlan-sim.exe; do
    [ -f "$bindir/$file" ] || { fail "$file not found"; continue; }
    resources=$(pe_resources "$bindir/$file")
    grep -q '^16/' <<<"$resources" || fail "$file has no version resource (type 16)"
  done
  grep -qxF '5/101' <<<"$(pe_resources "$dll")" ||
    fail "ETLANdr.dll has lost its Tag Format dialog (resource 101, type 5)"

  local found=0 dlls d
  for file in "$bindir"/*.dll "$bindir"/*.exe; do
    [ -f "$file" ] || continue
    found=1
    dlls=$("$tool" -p "$file" | awk '/DLL Name:/ { print $3 }' | sort -u)
    for d in $dlls; do
      grep -qiE "$allowed_dll" <<<"$d" ||
        fail "$(basename "$file") imports $d, which is neither part of Windows nor ours"
    done
  done
  [ "$found" = 1 ] || fail "no .dll or .exe in $bindir"
}

case "$mode" in
  native) check_native ;;
  mingw) check_mingw ;;
  *) echo "check_exports.sh: unknown mode '$mode'" >&2; exit 2 ;;
esac

if [ "$failures" -ne 0 ]; then
  echo "$failures finding(s)"
  exit 1
fi
echo "check_exports ($mode): ok"
