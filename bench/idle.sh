# Idle processes for the benchmarks to run beside; sourced by them.
# start_idle N starts N sleeping processes in a process group of their own,
# stop_idle ends them, and so does the script's exit.

life=300  # no idle process outlives this many seconds, whatever happens
group=

stop_idle() {
    if [ -n "$group" ]; then
        kill -- "-$group" 2>/dev/null || true
        group=
    fi
}
trap stop_idle EXIT INT TERM

start_idle() {
    setsid bash -c 'for ((i = 0; i < $1; i++)); do sleep "$2" & done; wait' _ "$1" "$life" &
    group=$!
    local deadline=$((SECONDS + 120))
    until [ "$(pgrep -c -g "$group" -x sleep || true)" -ge "$1" ]; do
        [ $SECONDS -lt $deadline ] || { echo "could not start $1 processes" >&2; exit 1; }
        sleep 0.2
    done
    sleep 5  # let the machine settle after so many forks
}
