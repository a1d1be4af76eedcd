# Installs the Debian packages the build and the tests need, when missing.
# Sourced by scripts/run and scripts/test.
# Extra package names may be given as arguments (scripts/test --coverage: gcovr).
capwap_install_deps() {
  local packages="cmake g++ make pkg-config libcjson-dev liblmdb-dev libmd-dev libmnl-dev \
libgtest-dev libbenchmark-dev libedit-dev tshark iproute2 $*"
  local missing=""
  for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
  done
  command -v ccache >/dev/null 2>&1 || missing="$missing ccache"
  if [ -n "$missing" ]; then
    echo "Installing:$missing"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    # tshark asks whether non-root users may capture; the default answer is fine.
    apt-get install -y -qq $missing
  fi
}
