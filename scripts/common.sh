# Shared by the project's scripts: where the sources are and how to configure a build.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
JOBS=${JOBS:-$(nproc)}
configure() { # configure BUILD_DIR [cmake args...]: a new tree gets Ninja, an existing one keeps its own
  local dir=$1; shift
  if [ -f "$dir/CMakeCache.txt" ]; then
    configure_default_generator "$dir" "$@"
  else
    configure_default_generator "$dir" -G Ninja "$@"
  fi
}
# Without -G: a new tree gets CMake's default generator, an existing one keeps its own.
configure_default_generator() { # configure_default_generator BUILD_DIR [cmake args...]
  local dir=$1; shift
  cmake -S "$ROOT" -B "$dir" "$@" >"$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; return 1; }
}
# test_targets BUILD_DIR [ctest selection args...]: prints the build targets that the selected tests
# run, one a line: tests named after their executable, and executables of the build tree that a
# test's command line names (a test run through a wrapper script).
test_targets() {
  local dir=$1; shift
  ctest --test-dir "$dir" -N --show-only=json-v1 "$@" | python3 -c '
import json, os, sys
build = os.path.realpath(sys.argv[1])
names = set()
for test in json.load(sys.stdin).get("tests", []):
    names.add(test["name"])
    for arg in test.get("command") or []:
        path = os.path.realpath(arg)
        if path.startswith(build + os.sep):
            names.add(os.path.basename(path))
print("\n".join(sorted(names)))' "$dir" |
    grep -Fx -f <(ninja -C "$dir" -t targets all | sed -n 's/^\([^/:]*\): phony$/\1/p')
}
