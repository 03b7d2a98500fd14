#!/usr/bin/env python3
"""Times gemmora-cli's cache on one tree: a second search of the unchanged tree
against the walk alone (--scan-only), warm and cold; a first search with the
cache on against one with it off; the cache's bytes a file; and, with
--changed, a search after 1 % of the candidates changed.

usage: bench/cache_bench.py TREE [--runs N] [--cold-runs N] [--changed COPY]

Cold runs drop the page cache first (as root); --cold-runs 0 leaves it alone.
The cache lives in a temporary folder given as XDG_CACHE_HOME; the user's own
cache is not touched. Every figure is the median of its runs, wall time and
CPU time (user + sys of the command).

--changed COPY copies TREE to COPY (cp -a; COPY must not exist or is a copy
made earlier, which is removed first) and works only there: a search with the
cache fills it, then each run changes another 1 % of the candidates (files
sharing their size with another): a quarter rewritten in place (one byte in
the middle, size kept), a quarter renamed, a quarter added (copies of other
files), a quarter removed, and times the search that follows. Its reference
is the walk plus the reading of what changed and of the files of the same
sizes: a search without the cache of a folder of copies of just those files
(made after the timed search, warm), less the walk of that folder. TREE itself is never changed."""
import argparse
import os
import random
import resource
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


CPU = {}  # argv key -> CPU seconds of the last timed run


def timed(argv, env, cold=False):
    """Wall seconds of one run; its CPU seconds (user + sys) go to CPU."""
    if cold:
        drop_caches()
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    subprocess.run(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    CPU['last'] = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall


def timed2(argv, env, cold=False):
    """(wall, cpu) seconds of one run."""
    wall = timed(argv, env, cold)
    return wall, CPU['last']


def med(pairs):
    return statistics.median(p[0] for p in pairs), statistics.median(p[1] for p in pairs)


def candidates_by_size(tree):
    """Regular files of one size or more, by size; only sizes of two or more."""
    sizes = {}
    for folder, dirs, files in os.walk(tree):
        for name in files:
            path = os.path.join(folder, name)
            try:
                st = os.lstat(path)
            except OSError:
                continue
            if st.st_size > 0 and (st.st_mode & 0o170000) == 0o100000:
                sizes.setdefault(st.st_size, []).append(path)
    return {size: paths for size, paths in sizes.items() if len(paths) >= 2}


def change_some(sizes, fraction, rng, done):
    """Changes `fraction` of the candidates not changed before; returns the
    sizes whose files the next search must read."""
    pool = [p for paths in sizes.values() for p in paths if p not in done]
    count = max(4, round(fraction * sum(len(v) for v in sizes.values())))
    picked = rng.sample(pool, min(count, len(pool)))
    touched = set()
    for i, path in enumerate(picked):
        size = os.lstat(path).st_size
        paths = sizes[size]
        kind = i % 4
        if kind == 0:  # rewritten in place, size kept
            with open(path, 'r+b') as f:
                f.seek(size // 2)
                byte = f.read(1)
                f.seek(size // 2)
                f.write(bytes([byte[0] ^ 0xFF]))
            done.add(path)
        elif kind == 1:  # renamed
            moved = path + '.moved'
            os.rename(path, moved)
            paths[paths.index(path)] = moved
            done.add(moved)
        elif kind == 2:  # a copy added beside it
            added = path + '.added'
            shutil.copyfile(path, added)
            paths.append(added)
            done.add(added)
        else:  # removed
            os.unlink(path)
            paths.remove(path)
        done.add(path)
        touched.add(size)
    return touched


def copy_folder(sizes, touched, folder):
    """A folder of copies of every file of the touched sizes (copies, not
    hard links: a link would change the file's change time, and with it
    what the next search finds changed)."""
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    n = 0
    for size in touched:
        if len(sizes[size]) < 2:
            continue
        for path in sizes[size]:
            shutil.copyfile(path, os.path.join(folder, str(n)))
            n += 1
    return n


def changed_case(args, env, rows):
    copy = args.changed.rstrip('/')
    links = copy + '-links'
    shutil.rmtree(copy, ignore_errors=True)
    shutil.rmtree(links, ignore_errors=True)
    subprocess.run(['cp', '-a', args.tree.rstrip('/'), copy], check=True)
    time.sleep(2.1)  # the copies' change times two seconds behind
    sizes = candidates_by_size(copy)
    out = os.path.join(env['XDG_CACHE_HOME'], 'out')
    search = [CLI, '--any-time', '--hidden-folders', '--format', 'paths', '-q', '-o', out]
    walk = [CLI, '--scan-only', '--any-time', '--hidden-folders', '-q']
    subprocess.run([CLI, '--clear-cache', '-q'], env=env, check=True)
    timed(search + [copy], env)
    timed(search + [copy], env)
    rng = random.Random(1)
    done = set()
    second, walked, reference = [], [], []
    for _ in range(args.runs):
        touched = change_some(sizes, 0.01, rng, done)
        time.sleep(2.1)  # the changes kept by the search that follows
        walked.append(timed2(walk + [copy], env))
        second.append(timed2(search + [copy], env))
        files = copy_folder(sizes, touched, links)
        link_search = timed2(search[:1] + ['--no-cache'] + search[1:] + [links], env)
        link_walk = timed2(walk + [links], env)
        reference.append((walked[-1][0] + link_search[0] - link_walk[0],
                          walked[-1][1] + link_search[1] - link_walk[1]))
    rows.append(('walk alone, 1 % changed', med(walked)))
    rows.append(('search after 1 % changed', med(second)))
    rows.append(('walk + reading what changed and its sizes\' files', med(reference)))
    rows.append(('(files of the changed sizes, last run)', (files, files)))
    shutil.rmtree(links, ignore_errors=True)
    shutil.rmtree(copy, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('tree')
    parser.add_argument('--runs', type=int, default=5)
    parser.add_argument('--cold-runs', type=int, default=3)
    parser.add_argument('--changed', metavar='COPY')
    parser.add_argument('--only-changed', action='store_true')
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix='gemmora-cache-bench-')
    env = dict(os.environ, XDG_CACHE_HOME=work)
    out = os.path.join(work, 'out')
    search = [CLI, '--any-time', '--hidden-folders', '--format', 'paths', '-q', '-o', out, args.tree]
    walk = [CLI, '--scan-only', '--any-time', '--hidden-folders', '-q', args.tree]
    clear = [CLI, '--clear-cache', '-q']
    rows = []
    if not args.only_changed:
        unchanged_case(args, env, search, walk, clear, rows)
        db = os.path.join(work, 'gemmora', 'contents.db')
        entries = sqlite3.connect(db).execute('SELECT count(*) FROM file').fetchone()[0]
        size = os.path.getsize(db)
    if args.changed:
        changed_case(args, env, rows)

    print('| measure | wall s | CPU s (user + sys) |')
    print('|---|---:|---:|')
    for name, (wall, cpu) in rows:
        print(f'| {name} | {wall:.3f} | {cpu:.3f} |')
    d = dict(rows)
    print()

    def ratio(label, a, b, target):
        if a in d and b in d:
            print(f'- {label}: wall {d[a][0] / d[b][0]:.2f}, CPU {d[a][1] / max(d[b][1], 1e-9):.2f} (target ≤ {target})')
    ratio('second search ÷ walk, warm', 'second search (warm)', 'walk alone --scan-only (warm)', 1.5)
    ratio('second search ÷ walk, cold', 'second search (cold)', 'walk alone --scan-only (cold)', 1.3)
    ratio('first search, cache on ÷ off', 'first search, cache on (warm)',
          'first search, cache off (warm)', 1.05)
    ratio('search after 1 % changed ÷ (walk + its reading)', 'search after 1 % changed',
          'walk + reading what changed and its sizes\' files', 1.0)
    if not args.only_changed:
        print(f'- cache file: {size} bytes, {entries} entries, {size / max(entries, 1):.1f} bytes an entry (target ≤ 100)')
    print(f'- runs: {args.runs} warm, {args.cold_runs} cold; load after: {os.getloadavg()}')
    shutil.rmtree(work)


def unchanged_case(args, env, search, walk, clear, rows):
    # First searches: the cache off, and on from nothing; warm, in turn.
    timed(search[:1] + ['--no-cache'] + search[1:], env)
    off, on = [], []
    for _ in range(args.runs):
        off.append(timed2(search[:1] + ['--no-cache'] + search[1:], env))
        subprocess.run(clear, env=env, check=True)
        on.append(timed2(search, env))
    rows.append(('first search, cache off (warm)', med(off)))
    rows.append(('first search, cache on (warm)', med(on)))

    # Second searches of the unchanged tree against the walk alone.
    second_warm, walk_warm = [], []
    timed(walk, env)
    for _ in range(args.runs):
        walk_warm.append(timed2(walk, env))
        second_warm.append(timed2(search, env))
    rows.append(('walk alone --scan-only (warm)', med(walk_warm)))
    rows.append(('second search (warm)', med(second_warm)))
    if args.cold_runs > 0:
        second_cold, walk_cold = [], []
        for _ in range(args.cold_runs):
            walk_cold.append(timed2(walk, env, cold=True))
            second_cold.append(timed2(search, env, cold=True))
        rows.append(('walk alone --scan-only (cold)', med(walk_cold)))
        rows.append(('second search (cold)', med(second_cold)))


if __name__ == '__main__':
    main()
