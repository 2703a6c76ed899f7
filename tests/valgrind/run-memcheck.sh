#!/bin/sh
# Runs a program under valgrind memcheck; any error fails the test. Exit
# status 77 (skipped) when valgrind is not installed.
#   run-memcheck.sh PROGRAM ARGS...
if ! command -v valgrind >/dev/null 2>&1; then
  echo "valgrind is not installed: memcheck of local objects skipped"
  exit 77
fi
exec valgrind --quiet --error-exitcode=99 --track-origins=yes --leak-check=full --errors-for-leak-kinds=definite \
  "$@"
