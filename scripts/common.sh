# Shared by the project's scripts: where the sources are and how to configure a build.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
JOBS=${JOBS:-$(nproc)}
configure() { # configure BUILD_DIR [cmake args...]
  local dir=$1; shift
  cmake -S "$ROOT" -B "$dir" -G Ninja "$@" >"$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; return 1; }
}
