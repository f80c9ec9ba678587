#!/usr/bin/env bash
# Fetches Dear ImGui's sources from Debian's source package into third_party/ (git-ignored),
# through a private apt configuration: the system's apt sources stay untouched.
set -euo pipefail

version="1.90.1"
debian_version="1.90.1+ds-1"
root="$(cd "$(dirname "$0")/../.." && pwd)"
dest="$root/third_party/imgui-$version"

if [ -f "$dest/imgui.cpp" ] && [ -f "$dest/backends/imgui_impl_dx11.cpp" ]; then
  exit 0
fi

work="$root/build/apt-imgui"
mkdir -p "$work/etc" "$work/lists/partial" "$work/cache/archives/partial" "$work/src"
echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian trixie main" \
  > "$work/etc/sources.list"
cat > "$work/etc/apt.conf" <<CONF
Dir::Etc::SourceList "$work/etc/sources.list";
Dir::Etc::SourceParts "/dev/null";
Dir::State::Lists "$work/lists";
Dir::Cache "$work/cache";
Dir::State::status "/var/lib/dpkg/status";
APT::Sandbox::User "root";
CONF
export APT_CONFIG="$work/etc/apt.conf"
apt-get update -q -o APT::Get::List-Cleanup=0 >/dev/null
(cd "$work/src" && apt-get source --download-only -q "imgui=$debian_version" >/dev/null)

mkdir -p "$root/third_party"
rm -rf "$dest.tmp" && mkdir -p "$dest.tmp"
tar -xf "$work/src/imgui_${version}+ds.orig.tar.xz" -C "$dest.tmp" --strip-components=1
rm -rf "$dest" && mv "$dest.tmp" "$dest"
echo "imgui: Debian source package $debian_version unpacked into ${dest#$root/}"
