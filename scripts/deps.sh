#!/bin/sh
# Installs the Debian packages Auralist needs, only those missing.
set -e
PACKAGES="cmake g++ make pkg-config qt6-base-dev qt6-base-dev-tools libsndfile1-dev
libcurl4-openssl-dev libsqlite3-dev libxxhash-dev libebur128-dev libaubio-dev libtag1-dev libhnswlib-dev libpulse-dev libgtest-dev libgmock-dev libbenchmark-dev qt6-qpa-plugins
$EXTRA_PACKAGES"
missing=""
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "Installing:$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends $missing
fi
