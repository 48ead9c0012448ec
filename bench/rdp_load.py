#!/usr/bin/env python3
"""The load table of scripts/bench-rdp.

usage: rdp_load.py WITH-FIGURES WITHOUT-FIGURES MINUTES

Each file has a line per period: "PERIOD cpu S server-cpu S rss-mean KB rss-peak KB opened N
reported N", measured on the client process (wfreerdp.exe under Wine) with and without the add-in,
side by side; opened: windows the session's probe opened in the period; reported: CREATE lines
the server put on the channel (none without the add-in).
"""
import sys


def read(path):
    periods = {}
    try:
        with open(path) as f:
            for line in f:
                parts = line.split()
                if len(parts) >= 9 and len(parts) % 2 == 1:
                    periods[parts[0]] = {parts[i]: float(parts[i + 1]) for i in range(1, len(parts), 2)}
    except OSError:
        pass
    return periods


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__.split("\n\n")[1])
    with_, without = read(sys.argv[1]), read(sys.argv[2])
    minutes = sys.argv[3]
    print(f"The client process over {minutes} minutes, with and without the add-in, side by side:")
    print(f"  {'period':<6} {'client':<8} {'CPU s':>8} {'wineserver CPU s':>17} {'RSS mean MiB':>13} "
          f"{'RSS peak MiB':>13} {'opened':>7} {'reported':>9}")
    for period in ("idle", "busy"):
        for name, figures in (("with", with_), ("without", without)):
            f = figures.get(period)
            if not f:
                print(f"  {period:<6} {name:<8} (not measured)")
                continue
            print(f"  {period:<6} {name:<8} {f['cpu']:8.2f} {f['server-cpu']:17.2f} {f['rss-mean'] / 1024:13.1f} "
                  f"{f['rss-peak'] / 1024:13.1f} {f.get('opened', 0):7.0f} {f.get('reported', 0):9.0f}")
        a, b = with_.get(period), without.get(period)
        if a and b and b["cpu"] > 0:
            print(f"  {period:<6} {'ratio':<8} {a['cpu'] / b['cpu']:8.2f} "
                  f"{(a['server-cpu'] / b['server-cpu']) if b['server-cpu'] > 0 else float('nan'):17.2f} "
                  f"{a['rss-mean'] / b['rss-mean']:13.2f} {a['rss-peak'] / b['rss-peak']:13.2f}")


if __name__ == "__main__":
    main()
