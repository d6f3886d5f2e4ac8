# Sourced by the scripts: install_missing [APT-OPTION...] PACKAGE... installs, with apt-get (through
# sudo when not root), those of the Debian packages that are not installed yet.
install_missing() {
  local options=() missing=() package sudo=""
  while [[ "${1:-}" == -* ]]; do
    options+=("$1")
    shift
  done
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2> /dev/null | grep -q "install ok installed" ||
      missing+=("$package")
  done
  ((${#missing[@]})) || return 0
  echo "Installing: ${missing[*]}"
  [[ "$(id -u)" -eq 0 ]] || sudo="sudo"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${options[@]}" "${missing[@]}"
}
