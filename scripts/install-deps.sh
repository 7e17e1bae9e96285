#!/usr/bin/env bash
# Installs every Debian 12 package the build, the lab and the tests need.
set -euo pipefail
if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: run as root (sudo $0)" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends \
  build-essential g++ cmake ninja-build pkg-config git ca-certificates \
  libgtest-dev libgmock-dev googletest \
  libnl-3-dev libnl-route-3-dev nlohmann-json3-dev libcli11-dev libjpeg62-turbo-dev \
  qt6-base-dev libxcb1-dev xvfb xauth fonts-dejavu-core \
  xterm inetutils-telnet xfonts-base xdotool x11-utils \
  clang libclang-rt-dev \
  iproute2 iputils-ping procps libcap2-bin util-linux kmod \
  python3
