#!/bin/sh
# Runs a command in a process table of its own: a private PID namespace with
# its own /proc. Whatever the command starts sees, signals and ends only
# processes inside it, so a test can never end a capture program that records
# on this machine, and no process outside can change what a test sees. CTest
# starts every test that runs the launcher, its built-in taskkill, a stand-in
# capture program, Wine or the benchmarks through this script.
#
#   isolated.sh COMMAND [ARGS...]
#
# As root it uses a PID namespace alone; otherwise a user namespace that maps
# the caller to root, where the system allows unprivileged ones. When neither
# can be made, the command does not run unguarded: one line on standard error
# says why, and the exit status is 77, which CTest reports as a skipped test.
# Otherwise the exit status is the command's. The command is the namespace's
# first process; when this script is killed (a CTest timeout), it and
# everything it started are killed with it.
if [ $# -eq 0 ]; then
  echo "usage: isolated.sh COMMAND [ARGS...]" >&2
  exit 2
fi
QB_ISOLATED=1 # tells a script that it already runs isolated
export QB_ISOLATED
for how in "" "--user --map-root-user"; do
  # shellcheck disable=SC2086 # $how is a list of options
  if unshare $how --pid --fork --mount-proc --kill-child true >/dev/null 2>&1; then
    exec unshare $how --pid --fork --mount-proc --kill-child "$@"
  fi
done
echo "skipped: no private process table can be made here (unshare --pid --mount-proc needs root or unprivileged user namespaces)" >&2
exit 77
