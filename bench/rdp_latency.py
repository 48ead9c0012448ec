#!/usr/bin/env python3
"""The latency tables of scripts/bench-rdp.

usage: rdp_latency.py REAL-DIR STANDIN-DIR FRAME-TITLE

REAL-DIR (the real connection) holds probe.txt (the session's changes: "US KIND N"), server.log
(quorv-rdp-server's log, times in UTC to the millisecond: "HH:MM:SS.mmm agent> LINE") and
xwatch.txt (the client desktop: "US button|title|shape XID NAME"). STANDIN-DIR (the stand-in host)
holds probe.txt and timing.txt ("US KEYWORD FIRST-CALL-US|- DELIVERY-US" per delivered message:
from the channel event to the add-in's first window call, and to the end of the delivery). Either
may be missing; its table is then left out.

Every change is matched to the first event of its kind after it and before the probe's next change
of the same kind (a window opened is closed before the next one opens; its taskbar button may come
after the close was made); a change without one is counted as missed.
"""
import datetime
import os
import sys

KINDS = [  # probe kind, the agent's message, what the client desktop shows
    ("title", "TITLE", "the local window's new title"),
    ("open", "CREATE", "a new taskbar button"),
    ("move", "UPDATERGN", "the frame's new shape"),
]
SERVER_SLACK = 1000  # us: the server's log has milliseconds; its times are cut, not rounded


def percentile(values, p):
    if not values:
        return float("nan")
    ordered = sorted(values)
    rank = max(0, min(len(ordered) - 1, int(round(p / 100.0 * len(ordered) + 0.5)) - 1))
    return ordered[rank]


def read_probe(path):
    changes = []
    with open(path) as f:
        for line in f:
            parts = line.split()
            if len(parts) == 3:
                changes.append((int(parts[0]), parts[1], int(parts[2])))
    changes.sort()
    return changes


def read_server_log(path, day):
    """(us, keyword) of each agent line the server put on the channel."""
    events = []
    with open(path, errors="replace") as f:
        for line in f:
            parts = line.split(" ", 2)
            if len(parts) < 3 or parts[1] != "agent>":
                continue
            try:
                t = datetime.datetime.strptime(parts[0], "%H:%M:%S.%f").time()
            except ValueError:
                continue
            stamp = datetime.datetime.combine(day, t, tzinfo=datetime.timezone.utc)
            events.append((int(stamp.timestamp() * 1e6), parts[2].split(",", 1)[0]))
    return events


def read_xwatch(path):
    events = []
    with open(path, errors="replace") as f:
        for line in f:
            parts = line.rstrip("\n").split(" ", 3)
            if len(parts) >= 3 and parts[0].isdigit():
                events.append((int(parts[0]), parts[1], parts[2], parts[3] if len(parts) > 3 else ""))
    return events


def read_timing(path):
    events = []
    with open(path) as f:
        for line in f:
            parts = line.split()
            if len(parts) == 4:
                first = None if parts[2] == "-" else float(parts[2])
                events.append((int(parts[0]), parts[1], first, float(parts[3])))
    return events


def first_after(events, start, end, accept, slack=0):
    for e in events:
        if e[0] < start - slack:
            continue
        if e[0] >= end:
            return None
        if accept(e):
            return e
    return None


def windows(changes):
    """Each change with the time of the probe's next change of its kind (the end of its window)."""
    for i, (t, kind, n) in enumerate(changes):
        later = [c[0] for c in changes[i + 1:] if c[1] == kind][:1]
        yield t, kind, n, later[0] if later else t + 10_000_000


def row(name, values_ms):
    if not values_ms:
        return f"  {name:<44} {'-':>8} {'-':>8} {'-':>8}"
    return (f"  {name:<44} {percentile(values_ms, 50):8.2f} {percentile(values_ms, 99):8.2f} "
            f"{max(values_ms):8.2f}")


def real_table(d, frame):
    changes = read_probe(os.path.join(d, "probe.txt"))
    if not changes:
        return ["(no changes recorded)"]
    day = datetime.datetime.fromtimestamp(changes[0][0] / 1e6, datetime.timezone.utc).date()
    server = read_server_log(os.path.join(d, "server.log"), day)
    x = read_xwatch(os.path.join(d, "xwatch.txt"))
    out = []
    for kind, keyword, effect in KINDS:
        detect, onward, whole, titled = [], [], [], []
        missed = untitled = count = 0
        for t, k, n, end in windows(changes):
            if k != kind:
                continue
            count += 1
            sent = first_after(server, t, end, lambda e: e[1] == keyword, SERVER_SLACK)
            if kind == "title":
                want = f"probe title {n}"
                seen = first_after(x, t, end, lambda e: e[1] in ("title", "button") and e[3] == want)
            elif kind == "open":
                # Only the probe opens windows in this phase: the first new button after the change.
                seen = first_after(x, t, end, lambda e: e[1] == "button")
                want = f"probe window {n}"
                named = first_after(x, t, end, lambda e: e[1] in ("title", "button") and e[3] == want)
                if named:
                    titled.append((named[0] - t) / 1000.0)
                else:
                    untitled += 1
            else:
                seen = first_after(x, t, end, lambda e: e[1] == "shape" and e[3] == frame)
            if not sent or not seen:
                missed += 1
                continue
            detect.append(max(0, sent[0] - t) / 1000.0)
            onward.append(max(0, seen[0] - sent[0]) / 1000.0)
            whole.append((seen[0] - t) / 1000.0)
        out.append(f"{kind} ({count} changes, {missed} without a match): {effect}")
        out.append(row("change -> on the channel (agent, server)", detect))
        out.append(row("on the channel -> shown (RDP, client, add-in, Wine, WM)", onward))
        out.append(row("whole path", whole))
        if kind == "open":
            out.append(row(f"whole path to the button's title ({untitled} never titled)", titled))
    return out


def standin_table(d):
    changes = read_probe(os.path.join(d, "probe.txt"))
    timing = read_timing(os.path.join(d, "timing.txt"))
    out = []
    for kind, keyword, _ in KINDS:
        detect, own, whole, missed, count = [], [], [], 0, 0
        for t, k, n, end in windows(changes):
            if k != kind:
                continue
            count += 1
            got = first_after(timing, t, end, lambda e: e[1] == keyword)
            if not got:
                missed += 1
                continue
            detect.append((got[0] - t) / 1000.0)
            # No window call seen (a title is stored with a direct call): the delivery bounds it.
            own.append((got[2] if got[2] is not None else got[3]) / 1000.0)
            whole.append(got[3] / 1000.0)
        out.append(f"{kind} ({count} changes, {missed} without a match): {keyword} delivered and handled")
        out.append(row("change -> delivery (agent, TCP, host)", detect))
        out.append(row("the add-in's own part (event -> first call)*", own))
        out.append(row("delivery with the window calls (Wine, WM)", whole))
    out.append("* to the first window call a hook sees (the system's own work in that call starts there);")
    out.append("  where no call is seen (TITLE stores the title with a direct call), the whole delivery")
    out.append("every message of the run, by keyword: event -> first window call | whole delivery")
    firsts, wholes = {}, {}
    for _, keyword, first, us in timing:
        wholes.setdefault(keyword, []).append(us / 1000.0)
        if first is not None:
            firsts.setdefault(keyword, []).append(first / 1000.0)
    for keyword in sorted(wholes, key=lambda k: -len(wholes[k])):
        out.append(row(f"{keyword} ({len(firsts.get(keyword, []))} with a call)", firsts.get(keyword, [])) +
                   " | " + row("", wholes[keyword]).strip())
    return out


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__.split("\n\n")[1])
    real, standin, frame = sys.argv[1:]
    header = f"  {'milliseconds':<44} {'p50':>8} {'p99':>8} {'max':>8}"
    print("Latency through the real connection (wfreerdp.exe with the add-in, quorv-rdp-server):")
    print(header)
    if os.path.exists(os.path.join(real, "xwatch.txt")) and os.path.exists(os.path.join(real, "probe.txt")):
        print("\n".join(real_table(real, frame)))
    else:
        print("  (not measured: the run did not finish)")
    print()
    print("Latency through the stand-in host (quorv-host.exe --listen, the agent over TCP):")
    print(header)
    if os.path.exists(os.path.join(standin, "timing.txt")) and os.path.exists(os.path.join(standin, "probe.txt")):
        print("\n".join(standin_table(standin)))
    else:
        print("  (not measured: the run did not finish)")


if __name__ == "__main__":
    main()
