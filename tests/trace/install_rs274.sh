#!/usr/bin/env bash
# Installs LinuxCNC's stand-alone RS274/NGC interpreter (rs274, Debian
# package linuxcnc-uspace), the second reader of the trace tests. Without
# recommended packages it brings about 120 packages (some 48 MB to fetch,
# 255 MB on disk) and takes about three minutes. Run as root before the
# build is configured; the configure step finds /usr/bin/rs274.
set -eu
if command -v rs274 > /dev/null 2>&1; then
  echo "rs274 is installed: $(command -v rs274)"
  exit 0
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends linuxcnc-uspace > /dev/null
command -v rs274
