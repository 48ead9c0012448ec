#!/usr/bin/env python3
"""Reads the native benchmark results (Google Benchmark JSON, with median aggregates) and the output
of the Windows programs of the x86 and the x64 build run under Wine, and prints two tables: each
native figure beside its peer, the ratio, the target and whether it is met; and the decoders and
the recorded session of the two Windows builds side by side.

    report.py RESULTS.json [WINE-X86-OUTPUT.txt [WINE-X64-OUTPUT.txt]]
"""
import json
import re
import sys


def load(path):
    with open(path) as f:
        data = json.load(f)
    medians = {}
    for b in data["benchmarks"]:
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        name = b["run_name"] if "run_name" in b else b["name"]
        # Manual-time figures are wall-clock by nature; every other figure is the process's CPU
        # time, which a busy shared machine disturbs less.
        manual = name.endswith("/manual_time")
        seconds = (b["real_time"] if manual else b["cpu_time"]) * {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b["time_unit"]]
        if b.get("error_occurred"):
            seconds = None
        entry = {"s": seconds, "counters": b}
        key = re.sub(r"/iterations:\d+", "", name.replace("/manual_time", ""))
        if b.get("run_type") == "aggregate" or key not in medians:
            medians[key] = entry
    context = dict(data.get("context", {}))
    if data["benchmarks"]:
        context["repetitions"] = data["benchmarks"][0].get("repetitions", 1)
    return context, medians


def fmt_time(s):
    if s is None:
        return "n/a"
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("us", 1e-6), ("ns", 1e-9)):
        if s >= scale or unit == "ns":
            return "%.3g %s" % (s / scale, unit)


def load_wine(path):
    """The figures one Windows build's programs printed: decoder seconds per call, session rate."""
    figures = {}
    try:
        text = open(path).read()
    except (OSError, TypeError):
        return figures
    for name, value in re.findall(r"^(decoder_\w+_seconds|session_messages_per_second) ([0-9.e+-]+)\s*$", text, re.M):
        figures[name] = float(value)
    return figures


def windows_table(x86, x64):
    """The decoders and the session of the two Windows builds, each under the Wine of its kind."""
    mib = 1 << 20
    rows = []

    def seconds(figures, name):
        return figures.get("decoder_%s_seconds" % name)

    def cell(s, size=None):
        if s is None:
            return "not run"
        return fmt_time(s) + (" (%.0f MB/s)" % (size / s / 1e6) if size else "")

    def compare(a, b, form):
        return form % (b / a) if a and b else "n/a"

    for name, label, size in (("base64_clean", "Base64Decode, 1 MiB clean", mib),
                              ("base64_lines", "Base64Decode, 1 MiB in 76-char CRLF lines", mib),
                              ("unpack_region", "UnpackPayload, 1 MiB region payload", mib),
                              ("base64_region", "  its decode alone", mib),
                              ("uncompress_region", "  its uncompress alone", None)):
        a, b = seconds(x86, name), seconds(x64, name)
        rows.append((label, cell(a, size), cell(b, size), compare(a, b, "%.2fx the time")))
    for figures in (x86, x64):
        parts = [seconds(figures, "base64_region"), seconds(figures, "uncompress_region")]
        whole = seconds(figures, "unpack_region")
        figures["unpack_ratio"] = whole / sum(parts) if whole and None not in parts else None
    rows.append(("UnpackPayload / (decode + uncompress)",
                 "%.3fx" % x86["unpack_ratio"] if x86.get("unpack_ratio") else "n/a",
                 "%.3fx" % x64["unpack_ratio"] if x64.get("unpack_ratio") else "n/a", ""))
    a, b = x86.get("session_messages_per_second"), x64.get("session_messages_per_second")
    rows.append(("recorded demo session, real DLL", "%.0f messages/s" % a if a else "not run",
                 "%.0f messages/s" % b if b else "not run", compare(b, a, "%.2fx the time")))
    return rows


def print_table(headers, rows):
    widths = [max(len(str(r[i])) for r in rows + [headers]) for i in range(len(headers))]
    line = lambda r: "| " + " | ".join(str(c).ljust(w) for c, w in zip(r, widths)) + " |"
    print(line(headers))
    print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    for r in rows:
        print(line(r))


def main():
    context, m = load(sys.argv[1])
    x86 = load_wine(sys.argv[2] if len(sys.argv) > 2 else None)
    x64 = load_wine(sys.argv[3] if len(sys.argv) > 3 else None)
    wine = x86.get("session_messages_per_second")

    def t(name):
        e = m.get(name)
        return e["s"] if e else None

    rows = []  # figure, ours, peer name, peer figure, ratio text, target text, met

    def row(*cells):
        rows.append(cells)

    def fastest(figures):
        present = [(v, k) for k, v in figures.items() if v is not None]
        return min(present) if present else (None, "n/a")

    def ratio(a, b):
        return None if a is None or b is None or b == 0 else a / b

    def times(value, form="%.2fx"):
        return form % value if value else "n/a"

    def met(value, limit, at_least):
        if value is None:
            return "n/a"
        return "met" if (value >= limit if at_least else value <= limit) else "NOT met"

    mib = 1 << 20

    def speed(s, size):
        return "" if s is None else " (%.0f MB/s)" % (size / s / 1e6)

    # 1. base64 decoding
    ours = t("BM_Base64Decode_Clean")
    peers = {"EVP_DecodeBlock": t("BM_OpenSSL_EVP_DecodeBlock_Clean"), "g_base64_decode": t("BM_GLib_g_base64_decode_Clean")}
    best = fastest(peers)
    for k, v in peers.items():
        row("Base64Decode, 1 MiB clean", "", k, fmt_time(v) + speed(v, mib), times(ratio(v, ours)), "", "")
    r = ratio(best[0], ours)
    row("Base64Decode, 1 MiB clean", fmt_time(ours) + speed(ours, mib), "fastest: " + best[1], fmt_time(best[0]),
        times(r, "%.2fx as fast"), ">= 1.5x", met(r, 1.5, True))
    ours = t("BM_Base64Decode_Lines")
    peer = t("BM_OpenSSL_EVP_DecodeUpdate_Lines")
    r = ratio(peer, ours)
    row("Base64Decode, 1 MiB in 76-char CRLF lines", fmt_time(ours) + speed(ours, mib), "EVP_DecodeUpdate",
        fmt_time(peer), times(r, "%.2fx as fast"), ">= 2x", met(r, 2.0, True))

    # 2. unpacking
    ours = t("BM_UnpackPayload_Region")
    decoders = {"Base64Decode": t("BM_Base64Decode_Region"), "EVP_DecodeBlock": t("BM_OpenSSL_EVP_DecodeBlock_Region"),
                "g_base64_decode": t("BM_GLib_g_base64_decode_Region")}
    best = fastest(decoders)
    inflate = t("BM_Zlib_uncompress_Region")
    limit = best[0] + inflate if best[0] is not None and inflate is not None else None
    r = ratio(ours, limit)
    row("UnpackPayload, 1 MiB region payload", fmt_time(ours), "%s + uncompress" % best[1],
        "%s + %s = %s" % (fmt_time(best[0]), fmt_time(inflate), fmt_time(limit)), times(r, "%.3fx the sum"),
        "<= 1.15x", met(r, 1.15, False))

    # 3. message assembly
    size = 8 * mib
    ours = t("BM_OnChannelData/%d" % size)
    peer = t("BM_CopyChunks/%d" % size)
    fresh = t("BM_CopyChunksFreshBuffer/%d" % size)
    r = ratio(ours, peer)
    row("OnChannelData, 8 MiB in 1600-byte chunks", fmt_time(ours), "copy into a buffer allocated once",
        fmt_time(peer), times(r), "<= 1.5x", met(r, 1.5, False))
    row("OnChannelData, 8 MiB in 1600-byte chunks", "", "copy into a fresh buffer per message",
        fmt_time(fresh), times(ratio(ours, fresh)), "(reference)", "")
    per = {}
    for size in (1 * mib, 4 * mib, 8 * mib):
        for name in ("BM_OnChannelData", "BM_CopyChunks", "BM_CopyChunksFreshBuffer"):
            s = t("%s/%d" % (name, size))
            per[(name, size)] = None if s is None else s / size
    a, b = per[("BM_OnChannelData", 8 * mib)], per[("BM_OnChannelData", 1 * mib)]
    r = ratio(a, b)
    row("OnChannelData, time per byte at 8 MiB vs 1 MiB", "%.3g ns/B vs %.3g ns/B" % (a * 1e9, b * 1e9) if r else "n/a",
        "", "", times(r), "<= 1.2x", met(r, 1.2, False))
    for name, label in (("BM_CopyChunks", "copy, buffer allocated once"), ("BM_CopyChunksFreshBuffer", "copy, fresh buffer")):
        a2, b2 = per[(name, 8 * mib)], per[(name, 1 * mib)]
        r2 = ratio(a2, b2)
        row("  the same for the limit: " + label, "", "", "%.3g ns/B vs %.3g ns/B" % (a2 * 1e9, b2 * 1e9) if r2 else "n/a",
            times(r2), "(reference)", "")

    # 4. scale
    for name, label in (("BM_Registry_FocusLookup", "focus lookup by local window"), ("BM_Registry_Create", "CREATE"),
                        ("BM_Registry_Destroy", "DESTROY")):
        small, middle, large = t("%s/10" % name), t("%s/1000" % name), t("%s/4000" % name)
        r = ratio(large, small)
        row("%s, per message, 4,000 windows" % label, fmt_time(large), "the same with 10 (1,000)",
            "%s (%s)" % (fmt_time(small), fmt_time(middle)), times(r), "<= 3x", met(r, 3.0, False))

    # 5. a whole session
    e = m.get("BM_Session_Demo")
    native = None
    count = "?"
    if e and e["s"]:
        native = e["counters"].get("items_per_second")
        count = int(e["counters"].get("messages", 0))
    row("recorded demo session, winsim (%s messages)" % count,
        "%.0f messages/s" % native if native else "n/a", "the same under 32-bit Wine, x86 DLL",
        "%.0f messages/s" % wine if wine else "not run", times(ratio(native, wine)),
        "(reported)", "")

    # 6. logging off
    ours = t("BM_LogDebug_Off")
    peer = t("BM_Format_Record")
    row("LogDebug with logging off, per call", fmt_time(ours), "formatting the record alone", fmt_time(peer),
        times(ratio(ours, peer), "%.4fx"), "<= 5 ns", met(ours * 1e9 if ours else None, 5.0, False))

    print_table(("figure", "ours", "peer", "peer figure", "ratio", "target", ""), rows)
    print()
    print("medians of %s repetitions; CPU time of the process except the CREATE/DESTROY figures (wall clock)"
          % context.get("repetitions", "?"))
    print()
    print("The Windows builds, each under the Wine of its kind (the decoders linked into a program, the session")
    print("through the DLL; wall clock, QueryPerformanceCounter; medians of the runs):")
    print()
    print_table(("figure", "x86, 32-bit Wine", "x64, 64-bit Wine", "x64 vs x86"), windows_table(x86, x64))


if __name__ == "__main__":
    main()
