#!/bin/sh
# Runs a 32-bit Linux program of the linux-i386 build under user-mode
# emulation:
#   qemu-run.sh ROOT PROGRAM [ARGUMENTS...]
# ROOT is the loader prefix the build makes (cmake/linux-i386.cmake): the
# 32-bit loader, libc and libstdc++ of the cross compiler's sysroot, and an
# empty ld.so.cache, so that the loader and libc always come from the same
# glibc build whatever 32-bit libraries the machine has besides.
#
# A program started by an emulated program (xsr-sim, orqext, an example) is
# started through its launcher, a script that comes back here: the kernel
# cannot start 32-bit programs itself.
root=$1
shift
if [ ! -f "$root/etc/ld.so.cache" ]; then
  echo "qemu-run.sh: no loader prefix in '$root' (configure the build first)" >&2
  exit 126
fi
exec qemu-i386 -L "$root" "$@"
