# Shared shell helpers for the build and test scripts.

# need_packages PKG...: installs the Debian packages that are not installed
# yet (as root, or through sudo). Under CI a failed install fails the run.
need_packages() {
  local missing=()
  local pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'ok installed' ||
      missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  echo "installing: ${missing[*]}"
  for pkg in "${missing[@]}"; do
    case "$pkg" in
      *:i386)
        dpkg --print-foreign-architectures | grep -qx i386 ||
          $sudo dpkg --add-architecture i386 ;;
    esac
  done
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
}
