#!/usr/bin/env bash
# Runs lintian with the arguments given (scripts/test-packaging.sh checks the
# .deb packages with it) without installing it on this machine.
#
# Debian 12's lintian needs Perl modules whose current builds require a newer
# perl than the machine may have (libcpanel-json-xs-perl, libhtml-parser-perl
# and libxml-libxml-perl ask for perl >= 5.36.0-7+deb12u3): installing it with
# apt would upgrade perl, perl-base, libperl5.36 and perl-modules-5.36. So,
# unless lintian is installed already, this script fetches lintian and the
# packages it needs that are not installed (apt-get --download-only, with this
# machine's package lists, into a cache folder of its own; no package is
# installed and apt's state is not changed), unpacks them with dpkg -x into
# build/lintian/root (no install scripts run), and runs lintian from there
# with the machine's own perl. Packages installed here at another version
# (perl itself) are not unpacked: the installed ones are used. The folder is
# made once and reused (about 16 MB downloaded, 35 MB unpacked); delete it to
# fetch anew.
#   scripts/lintian.sh LINTIAN-ARGS...
set -euo pipefail
root_dir=$(cd "$(dirname "$0")/.." && pwd)

if command -v lintian >/dev/null 2>&1; then
  exec lintian "$@"
fi

dir=$root_dir/build/lintian
root=$dir/root
if [ ! -x "$root/usr/bin/lintian" ]; then
  echo "lintian.sh: lintian is not installed; fetching it and what it needs into ${dir#"$root_dir"/} (nothing is installed)" >&2
  rm -rf "$dir"
  mkdir -p "$dir/debs/partial" "$dir/cache"
  # Only the package files are fetched, with the machine's lists and status:
  # apt names the packages that are missing here.
  fetch() {
    apt-get -qq -o Dpkg::Use-Pty=0 -o Dir::Cache="$dir/cache" -o Dir::Cache::archives="$dir/debs" \
      --download-only --no-install-recommends -y install lintian
  }
  if ! fetch >"$dir/fetch.log" 2>&1; then
    # A machine whose package lists were never fetched: fetch them first.
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    $SUDO apt-get -qq update >>"$dir/fetch.log" 2>&1
    fetch >>"$dir/fetch.log" 2>&1 || { cat "$dir/fetch.log" >&2; exit 1; }
  fi
  mkdir -p "$root.new"
  for deb in "$dir"/debs/*.deb; do
    pkg=$(dpkg-deb -f "$deb" Package)
    # Installed at another version (perl): the machine's own copy serves.
    if dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q ' installed$'; then
      continue
    fi
    dpkg-deb -x "$deb" "$root.new"
  done
  rm -rf "$dir/debs" "$dir/cache"
  mv "$root.new" "$root"
fi

perl_arch=$(perl -MConfig -e 'print $Config{version}')
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || echo x86_64-linux-gnu)
export PERL5LIB="$root/usr/share/perl5:$root/usr/lib/$multiarch/perl5/${perl_arch%.*}${PERL5LIB:+:$PERL5LIB}"
export PATH="$root/usr/bin:$PATH"
export LD_LIBRARY_PATH="$root/usr/lib/$multiarch:$root/lib/$multiarch${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
exec perl "$root/usr/bin/lintian" "$@"
