#!/bin/sh
# Runs a test in a private mount namespace, where it may mount small or read-only file systems that
# nothing else sees. Where that is not permitted, the test runs as it is and skips those cases.
if unshare -m --propagation private true 2>/dev/null; then
    QR_IN_MOUNTNS=1 exec unshare -m --propagation private "$@"
fi
exec "$@"
