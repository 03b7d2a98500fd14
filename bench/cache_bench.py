#!/usr/bin/env python3
"""Times gemmora-cli's cache on one tree: a second search of the unchanged tree
against the walk alone (--scan-only), warm and cold; a first search with the
cache on against one with it off; and the cache's bytes a file.

usage: bench/cache_bench.py TREE [--runs N] [--cold-runs N]

Cold runs drop the page cache first (as root). The cache lives in a temporary
folder given as XDG_CACHE_HOME; the user's own cache is not touched."""
import argparse
import os
import shutil
import sqlite3
import statistics
import subprocess
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CLI = os.path.join(ROOT, 'build/gemmora-cli')


def drop_caches():
    subprocess.run(['sync'])
    with open('/proc/sys/vm/drop_caches', 'w') as f:
        f.write('3\n')


def timed(argv, env, cold=False):
    if cold:
        drop_caches()
    start = time.monotonic()
    subprocess.run(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    return time.monotonic() - start


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('tree')
    parser.add_argument('--runs', type=int, default=5)
    parser.add_argument('--cold-runs', type=int, default=3)
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix='gemmora-cache-bench-')
    env = dict(os.environ, XDG_CACHE_HOME=work)
    out = os.path.join(work, 'out')
    search = [CLI, '--any-time', '--hidden-folders', '--format', 'paths', '-q', '-o', out, args.tree]
    walk = [CLI, '--scan-only', '--any-time', '--hidden-folders', '-q', args.tree]
    clear = [CLI, '--clear-cache', '-q']
    rows = []

    # First searches: the cache off, and on from nothing; warm, in turn.
    timed(search[:1] + ['--no-cache'] + search[1:], env)
    off, on = [], []
    for _ in range(args.runs):
        off.append(timed(search[:1] + ['--no-cache'] + search[1:], env))
        subprocess.run(clear, env=env, check=True)
        on.append(timed(search, env))
    rows.append(('first search, cache off (warm)', statistics.median(off)))
    rows.append(('first search, cache on (warm)', statistics.median(on)))

    # Second searches of the unchanged tree against the walk alone.
    second_warm, walk_warm = [], []
    timed(walk, env)
    for _ in range(args.runs):
        walk_warm.append(timed(walk, env))
        second_warm.append(timed(search, env))
    second_cold, walk_cold = [], []
    for _ in range(args.cold_runs):
        walk_cold.append(timed(walk, env, cold=True))
        second_cold.append(timed(search, env, cold=True))
    rows.append(('walk alone --scan-only (warm)', statistics.median(walk_warm)))
    rows.append(('second search (warm)', statistics.median(second_warm)))
    rows.append(('walk alone --scan-only (cold)', statistics.median(walk_cold)))
    rows.append(('second search (cold)', statistics.median(second_cold)))

    db = os.path.join(work, 'gemmora', 'contents.db')
    entries = sqlite3.connect(db).execute('SELECT count(*) FROM file').fetchone()[0]
    size = os.path.getsize(db)

    print('| measure | wall s (median) |')
    print('|---|---:|')
    for name, value in rows:
        print(f'| {name} | {value:.3f} |')
    d = dict(rows)
    print()
    print(f'- second search ÷ walk, warm: {d["second search (warm)"] / d["walk alone --scan-only (warm)"]:.2f} (target ≤ 1.5)')
    print(f'- second search ÷ walk, cold: {d["second search (cold)"] / d["walk alone --scan-only (cold)"]:.2f} (target ≤ 1.3)')
    print(f'- first search, cache on ÷ off: {d["first search, cache on (warm)"] / d["first search, cache off (warm)"]:.3f} (target ≤ 1.05)')
    print(f'- cache file: {size} bytes, {entries} entries, {size / max(entries, 1):.1f} bytes an entry (target ≤ 100)')
    print(f'- runs: {args.runs} warm, {args.cold_runs} cold; load before: {os.getloadavg()}')
    shutil.rmtree(work)


if __name__ == '__main__':
    main()
