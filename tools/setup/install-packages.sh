# Installs the Debian packages a run.sh mode needs, and only those that are missing. Sourced by
# run.sh; the setup test sources it with a stand-in apt-get first on PATH.
#
#   install_packages PKG...   installs what is missing; never stops the caller
#   package_missing PKG       true when PKG is not installed (after install_packages)
#   package_reason PKG        why PKG could not be installed (empty when it was)
#
# A package mirror is sometimes momentarily inconsistent ("Mirror sync in progress?"): the index
# refresh is retried a few times, an index that still fails is a warning, and the packages are
# installed from the indexes that are there. A package that cannot be installed is named with
# apt's reason on one line; the caller decides what that means for what it runs.

KVSDK_UPDATE_TRIES=${KVSDK_UPDATE_TRIES:-3}
KVSDK_UPDATE_PAUSE=${KVSDK_UPDATE_PAUSE:-5}
declare -gA KVSDK_NOT_INSTALLED=()

package_installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

package_missing() {
  ! package_installed "$1"
}

package_reason() {
  printf '%s' "${KVSDK_NOT_INSTALLED[$1]:-}"
}

# The one-line reason apt gave for not installing $1, from its output in $2.
apt_reason() {
  local package=$1 output=$2 error dependency
  error=$(grep -E '^E: ' <<<"$output" | tail -n 1 | sed 's/^E: //')
  dependency=$(grep -m1 -E '^ +[^ ]+ : (Pre)?Depends: ' <<<"$output" | sed -E 's/^ +//; s/  +/ /g')
  [ -n "$error" ] || error="apt-get install failed"
  if [ -n "$dependency" ]; then
    printf '%s (first unmet dependency: %s)' "$error" "$dependency"
  else
    printf '%s' "$error"
  fi
}

# Refreshes the package index, retrying; what still fails is a warning.
refresh_index() {
  local try output=""
  for ((try = 1; try <= KVSDK_UPDATE_TRIES; try++)); do
    if output=$($KVSDK_SUDO apt-get update -qq 2>&1) && ! grep -qE '^(E|W): (Failed to fetch|Some index files)' <<<"$output"; then
      return 0
    fi
    if ((try < KVSDK_UPDATE_TRIES)); then
      echo "== package index refresh failed (try $try of $KVSDK_UPDATE_TRIES), retrying in $((KVSDK_UPDATE_PAUSE * try)) s"
      sleep $((KVSDK_UPDATE_PAUSE * try))
    fi
  done
  echo "== WARNING: the package index could not be refreshed completely; installing from the indexes that are there:"
  grep -E '^(E|W): Failed to fetch' <<<"$output" | sed -E 's/^(E|W): Failed to fetch /   failed: /' | cut -c1-200
  grep -qE '^(E|W): Failed to fetch' <<<"$output" || sed 's/^/   /' <<<"$output" | head -n 5
  return 0
}

install_packages() {
  KVSDK_NOT_INSTALLED=()
  if ! command -v dpkg-query >/dev/null 2>&1; then
    echo "== WARNING: dpkg-query not found (not Debian?): cannot check or install: $*"
    return 0
  fi
  local missing=() p
  for p in "$@"; do
    package_installed "$p" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0

  KVSDK_SUDO=""
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then
      KVSDK_SUDO="sudo"
    else
      for p in "${missing[@]}"; do KVSDK_NOT_INSTALLED[$p]="not root, and sudo is not installed"; done
    fi
  fi
  if ! command -v apt-get >/dev/null 2>&1; then
    for p in "${missing[@]}"; do KVSDK_NOT_INSTALLED[$p]="apt-get not found"; done
  fi
  if [ ${#KVSDK_NOT_INSTALLED[@]} -eq 0 ]; then
    echo "== installing: ${missing[*]}"
    # 32-bit packages (wine32:i386) need the i386 architecture.
    if [[ " ${missing[*]}" == *":i386"* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
      $KVSDK_SUDO dpkg --add-architecture i386 || echo "== WARNING: could not add the i386 architecture"
    fi
    refresh_index
    local output
    if ! output=$(DEBIAN_FRONTEND=noninteractive $KVSDK_SUDO apt-get install -y -qq \
      --no-install-recommends "${missing[@]}" 2>&1); then
      # One at a time, so that one package that cannot be installed keeps no other out.
      for p in "${missing[@]}"; do
        package_installed "$p" && continue
        output=$(DEBIAN_FRONTEND=noninteractive $KVSDK_SUDO apt-get install -y -qq \
          --no-install-recommends "$p" 2>&1) || KVSDK_NOT_INSTALLED[$p]=$(apt_reason "$p" "$output")
      done
    fi
  fi
  for p in "${missing[@]}"; do
    if package_missing "$p" && [ -z "${KVSDK_NOT_INSTALLED[$p]:-}" ]; then
      KVSDK_NOT_INSTALLED[$p]="still not installed after apt-get install"
    fi
    [ -n "${KVSDK_NOT_INSTALLED[$p]:-}" ] && echo "== could not install $p: ${KVSDK_NOT_INSTALLED[$p]}"
  done
  return 0
}
