# Sourced by the scripts: one rule for what they share.
# PINEMAIL_JOBS: build jobs (default: every processor).
# PINEMAIL_PYTHON: the Python interpreter (default: Debian's, which has the
# modules the tests and the demo use).
pinemail_jobs="${PINEMAIL_JOBS:-$(nproc)}"
pinemail_python="${PINEMAIL_PYTHON:-/usr/bin/python3}"
