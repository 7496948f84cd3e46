# Sourced by the installation scripts: messages, quiet commands and apt-get, the same in
# each. The sourcing script sets kScriptTag (the prefix of its messages) first.

Say() { echo "$kScriptTag: $*"; }

Fail() {
    echo "$kScriptTag: ERROR: $*" >&2
    exit 1
}

# Runs a command quietly; shows the tail of its output only when it fails.
RunQuiet() {
    local log
    log=$(mktemp)
    if ! "$@" >"$log" 2>&1; then
        tail -n 25 "$log" >&2
        rm -f "$log"
        return 1
    fi
    rm -f "$log"
}

AptGet() {
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 "$@"
}
