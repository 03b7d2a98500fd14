#!/usr/bin/env python3
# The timed comparison of gemmora-cli with other duplicate finders.
# SPDX-License-Identifier: GPL-3.0-or-later
"""Times gemmora-cli against fdupes, jdupes, rdfind, rmlint and duff, and
against the limits of the machine (walking the tree; reading every file that
shares its size with another once), in turn, several runs each, on trees made
by make_tree. Each tree is timed warm (after one untimed run of every
command) and cold (the page cache dropped before every timed run of every
command, which needs root). Reports medians of wall time, CPU time and peak
memory, the ratios of Gemmora to each (median of the paired ratios), and
whether every tool found the same duplicate sets as Gemmora."""

import argparse
import datetime
import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
NOTES_HEADING = '## Notes'
ROOT = os.path.dirname(HERE)


def groups_blank_separated(path, header=None):
    groups, current = set(), []
    with open(path, 'rb') as f:
        for line in f.read().split(b'\n'):
            if line == b'' or (header is not None and line.startswith(header)):
                if current:
                    groups.add(frozenset(current))
                current = []
            else:
                current.append(line)
    if current:
        groups.add(frozenset(current))
    return groups


def groups_rdfind(path):
    by_id = {}
    with open(path, 'rb') as f:
        for line in f:
            if line.startswith(b'#'):
                continue
            fields = line.rstrip(b'\n').split(b' ', 7)
            if len(fields) == 8:
                by_id.setdefault(abs(int(fields[1])), []).append(fields[7])
    return {frozenset(v) for v in by_id.values() if len(v) > 1}


def by_inode(groups):
    """Groups as sets of (device, inode): a hard link is the same file, and
    which of its paths a tool names does not matter."""
    canonical = set()
    for group in groups:
        members = set()
        for path in group:
            try:
                st = os.lstat(path)
                members.add((st.st_dev, st.st_ino))
            except OSError:
                members.add(path)
        canonical.add(frozenset(members))
    return canonical


class Tool:
    def __init__(self, name, argv, output=None, parse=None, stdout_to_output=False):
        self.name, self.argv, self.output, self.parse = name, argv, output, parse
        self.stdout_to_output = stdout_to_output
        self.samples = []

    def run(self):
        """Wall, CPU seconds and peak memory in bytes of one run. GNU time
        runs the command, so the peak is the command's own and not that of
        this script, which a forked child would start with."""
        if self.output and os.path.exists(self.output):
            os.unlink(self.output)
        out = open(self.output, 'wb') if self.stdout_to_output else subprocess.DEVNULL
        report = tempfile.NamedTemporaryFile(prefix='gemmora-time-', delete=False)
        report.close()
        start = time.monotonic()
        status = subprocess.call(['/usr/bin/time', '-f', '%U %S %M', '-o', report.name] + self.argv,
                                 stdout=out, stderr=subprocess.DEVNULL, cwd=tempfile.gettempdir())
        wall = time.monotonic() - start
        if out is not subprocess.DEVNULL:
            out.close()
        with open(report.name) as f:
            fields = f.read().split()[-3:]
        os.unlink(report.name)
        user, system, peak = float(fields[0]), float(fields[1]), int(fields[2]) * 1024
        return wall, user + system, peak, status

    def sets(self):
        return by_inode(self.parse(self.output)) if self.parse else None


def median(values):
    return statistics.median(values) if values else float('nan')


KINDS = {'': ('', [], ''), 't': ('-tiny', ['--tiny'], ' (mostly tiny)'),
         'h': ('-head', ['--same-head'], ' of 6 MiB sharing their first 256 KiB')}


def ensure_tree(trees, files, kind):
    suffix, flags, _ = KINDS[kind]
    path = os.path.join(trees, f"tree-{files}{suffix}")
    marker = path + '.done'
    if not os.path.exists(marker):
        shutil.rmtree(path, ignore_errors=True)
        argv = [os.path.join(ROOT, 'build/bench/make_tree'), path, str(files)] + flags
        print('making', path, flush=True)
        subprocess.run(argv, check=True)
        open(marker, 'w').close()
    return path


def tools_for(tree, work, skip):
    cli = os.path.join(ROOT, 'build/gemmora-cli')
    out = lambda name: os.path.join(work, name + '.out')
    tools = [
        Tool('gemmora', [cli, '--no-cache', '--any-time', '--hidden-folders', '--format', 'paths', '-q', '-o', out('gemmora'), tree],
             out('gemmora'), groups_blank_separated),
        Tool('fdupes', ['fdupes', '-r', '-n', '-q', tree], out('fdupes'), groups_blank_separated, True),
        Tool('jdupes', ['jdupes', '-r', '-q', tree], out('jdupes'), groups_blank_separated, True),
        Tool('rdfind', ['rdfind', '-dryrun', 'true', '-outputname', out('rdfind'), tree], out('rdfind'), groups_rdfind),
        Tool('rmlint', ['rmlint', '--hidden', '-T', 'df', '-L', '-F', '-o', 'fdupes:' + out('rmlint'), tree],
             out('rmlint'), groups_blank_separated),
        Tool('duff', ['duff', '-r', '-a', '-p', '-z', '-t', '-q', '-f', '#', tree], out('duff'),
             lambda p: groups_blank_separated(p, b'#'), True),
        Tool('gemmora (same time)', [cli, '--no-cache', '--hidden-folders', '--format', 'paths', '-q', '-o', out('default'), tree]),
        Tool('gemmora (scan only)', [cli, '--scan-only', '--any-time', '--hidden-folders', '-q', tree]),
        Tool('limit: find -printf %s', ['find', tree, '-printf', '%s\\n']),
        Tool('limit: walk + read same sizes', [os.path.join(ROOT, 'build/bench/read_limit'), tree]),
    ]
    return [t for t in tools if t.name.split(' ')[0] not in skip and t.name not in skip]


def drop_caches():
    """Empties the page cache, dentries and inodes, as after a reboot; False
    where that is not allowed (not root, or in a container)."""
    try:
        subprocess.run(['sync'], check=True)
        with open('/proc/sys/vm/drop_caches', 'w') as f:
            f.write('3\n')
        return True
    except OSError:
        return False


def bench_tree(tree, files, runs, skip, timeout, cold=False):
    work = tempfile.mkdtemp(prefix='gemmora-bench-')
    tools = tools_for(tree, work, skip)
    if cold and not drop_caches():
        shutil.rmtree(work, ignore_errors=True)
        return None
    # Warm the page cache and every program once; a tool slower than the
    # bound is left out of the timed runs. Cold runs need no warming: a tool
    # whose first run is slower than the bound runs no more.
    for tool in [] if cold else list(tools):
        wall, _, _, _ = tool.run()
        print(f'  warm-up {tool.name}: {wall:.2f} s', flush=True)
        if wall > timeout:
            print(f'  {tool.name} takes over {timeout} s: left out', flush=True)
            tools.remove(tool)
    # Run after run, each command once, so that what the machine does
    # meanwhile falls on all of them alike.
    slow = set()
    for r in range(runs):
        for tool in tools:
            if tool.name in slow:
                continue
            if cold:
                drop_caches()
            sample = tool.run()[:3]
            tool.samples.append(sample)
            if cold and sample[0] > timeout:
                print(f'  {tool.name} takes over {timeout} s cold: no more runs of it', flush=True)
                slow.add(tool.name)
        print(f'  run {r + 1} of {runs} done', flush=True)
    reference = tools[0].sets() if tools and tools[0].name == 'gemmora' else None
    rows = []
    gemmora = tools[0] if tools and tools[0].name == 'gemmora' else None
    for tool in tools:
        walls = [s[0] for s in tool.samples]
        cpus = [s[1] for s in tool.samples]
        peaks = [s[2] for s in tool.samples]
        ratio = ''
        if gemmora and tool is not gemmora:
            ratio = f'{median([g[0] / t[0] for g, t in zip(gemmora.samples, tool.samples)]):.2f}'
        same = ''
        if reference is not None and tool.parse and tool is not gemmora:
            found = tool.sets()
            if found == reference:
                same = 'yes'
            else:
                same = f'no: {len(reference - found)} groups only Gemmora, {len(found - reference)} only {tool.name}'
        elif tool is gemmora and reference is not None:
            same = f'{len(reference)} groups, {sum(len(g) for g in reference)} files'
        rows.append((tool.name, median(walls), median(cpus), median(peaks), ratio, same))
    shutil.rmtree(work, ignore_errors=True)
    return rows


def table(files, kind, rows, runs, cold=False):
    cache = 'cold: page cache dropped before every run' if cold else 'warm'
    lines = [f"### {files:,} files{KINDS[kind][2]}, {cache}, medians of {runs} runs", '',
             '| command | wall s | CPU s | peak MiB | bytes/file | Gemmora ÷ it (wall) | duplicate sets |',
             '|---|---:|---:|---:|---:|---:|---|']
    for name, wall, cpu, peak, ratio, same in rows:
        lines.append(f'| {name} | {wall:.3f} | {cpu:.3f} | {peak / 1048576:.1f} | {peak / files:.0f} | {ratio} | {same} |')
    return '\n'.join(lines)


def desktop_section(trees, runs):
    """The desktop program's own figures, when it is built: rows added to the
    result list, a search of the 200,000-file tree with its longest time
    without an event-loop turn, and the reload of a 100,000-row list."""
    import re
    filelist = os.path.join(ROOT, 'build/bench/bench_filelist')
    gui = os.path.join(ROOT, 'build/bench/bench_gui')
    tree = os.path.join(trees, 'tree-200000')
    if not (os.path.exists(filelist) and os.path.exists(gui) and os.path.exists(tree + '.done')):
        return None
    env = dict(os.environ, QT_QPA_PLATFORM='offscreen')
    figures = {}
    for _ in range(runs):
        for argv in ([filelist, '100000'], [gui, tree, '100000']):
            text = subprocess.run(argv, capture_output=True, text=True, env=env).stdout
            for name, pattern in (('rows from gathered facts (added, shown, fitted)', r'rows from gathered facts\s+(\d+) ms'),
                                  ('AddFile for 100,000 real files (facts and row)', r'AddFile, facts and row\s+(\d+) ms'),
                                  ('scroll to the end of 100,000 rows', r'scroll to the end\s+(\d+) ms'),
                                  ('select all of 100,000 rows', r'select all\s+(\d+) ms'),
                                  ('prune a group of 100,000 rows', r'prune a group\s+(\d+) ms'),
                                  ('search of the 200,000-file tree with "Find Now"', r'search of \S+: (\d+) ms'),
                                  ('longest time without an event-loop turn in that search', r'longest event-loop gap (\d+) ms'),
                                  ('reload of a saved list of 100,000 rows', r'reload of \d+ rows: (\d+) ms')):
                match = re.search(pattern, text)
                if match:
                    figures.setdefault(name, []).append(int(match.group(1)))
    lines = [f'### The desktop program (offscreen), medians of {runs} runs', '', '| what | ms |', '|---|---:|']
    for name, values in figures.items():
        lines.append(f'| {name} | {median(values):.0f} |')
    lines += ['', 'Commands: `bench_filelist 100000`, `bench_gui ROOT-200000 100000`.']
    return '\n'.join(lines)


SYSCALL_KINDS = (('status', ('newfstatat', 'fstat', 'statx', 'lstat', 'stat')),
                 ('open', ('openat', 'openat2', 'open')),
                 ('read', ('pread64', 'preadv2', 'read')),
                 ('close', ('close',)),
                 ('folder read', ('getdents64',)))


def syscall_section(tree, files):
    """System calls of one warm gemmora run, counted by strace -c -f (which
    does not depend on what else the machine does), per file of the tree."""
    if shutil.which('strace') is None:
        return None
    work = tempfile.mkdtemp(prefix='gemmora-strace-')
    report = os.path.join(work, 'strace.txt')
    rows = []
    for name, flags in (('gemmora', ['--any-time']), ('gemmora (same time)', [])):
        argv = [os.path.join(ROOT, 'build/gemmora-cli'), '--no-cache'] + flags + [
            '--hidden-folders', '--format', 'paths', '-q', '-o', os.path.join(work, 'out'), tree]
        subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(['strace', '-c', '-f', '-o', report] + argv,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        calls = {}
        with open(report) as f:
            for line in f:
                fields = line.split()
                if len(fields) >= 5 and fields[0][0].isdigit() and fields[-1] != 'total':
                    calls[fields[-1]] = int(fields[3])
        counts = [sum(calls.get(c, 0) for c in names) for _, names in SYSCALL_KINDS]
        rows.append(f"| {name} | " + ' | '.join(f'{n:,} ({n / files:.2f})' for n in counts) + ' |')
    shutil.rmtree(work, ignore_errors=True)
    head = ' | '.join(kind for kind, _ in SYSCALL_KINDS)
    return '\n'.join([f'### System calls on {files:,} files, warm (strace -c -f; per file in brackets)', '',
                      f'| command | {head} |', '|---|' + '---:|' * len(SYSCALL_KINDS)] + rows)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('--sizes', default='10000,200000,1000000t,400h',
                        help='tree sizes; a trailing t makes a tree of mostly tiny files, a trailing '
                             'h one of large files of one size sharing a long head')
    parser.add_argument('--runs', type=int, default=5)
    parser.add_argument('--runs-large', type=int, default=3, help='runs for trees of a million files or more')
    parser.add_argument('--cold-runs', type=int, default=3,
                        help='cold runs of each tree (0: none); 1 for trees of a million files')
    parser.add_argument('--cold-timeout', type=float, default=600,
                        help='leave a tool out of the cold runs when its first cold run is slower')
    parser.add_argument('--trees', default='/var/tmp/gemmora-bench')
    parser.add_argument('--skip', default='', help='comma-separated tools to leave out')
    parser.add_argument('--timeout', type=float, default=300, help='leave out a tool slower than this (s)')
    parser.add_argument('--results', help='also write the tables to this Markdown file')
    parser.add_argument('--syscalls', default='200000',
                        help='trees whose system calls are counted with strace (empty: none)')
    args = parser.parse_args()
    os.makedirs(args.trees, exist_ok=True)
    skip = set(s for s in args.skip.split(',') if s)
    sections = []
    cold_refused = False
    for size in args.sizes.split(','):
        kind = size[-1] if size[-1] in ('t', 'h') else ''
        files = int(size.rstrip('th'))
        tree = ensure_tree(args.trees, files, kind)
        print(f'benchmarking {tree}', flush=True)
        runs = args.runs_large if files >= 1000000 else args.runs
        section = table(files, kind, bench_tree(tree, files, runs, skip, args.timeout), runs)
        print(section, flush=True)
        sections.append(section)
        if size in args.syscalls.split(','):
            section = syscall_section(tree, files)
            if section:
                print(section, flush=True)
                sections.append(section)
        cold_runs = min(args.cold_runs, 1) if files >= 1000000 else args.cold_runs
        if cold_runs > 0 and not cold_refused:
            print(f'benchmarking {tree} cold', flush=True)
            rows = bench_tree(tree, files, cold_runs, skip, args.cold_timeout, cold=True)
            if rows is None:
                cold_refused = True
                print('  the page cache cannot be dropped here (root is needed): no cold runs',
                      flush=True)
            else:
                section = table(files, kind, rows, cold_runs, cold=True)
                print(section, flush=True)
                sections.append(section)
    desktop = desktop_section(args.trees, args.runs_large)
    if desktop:
        print(desktop, flush=True)
        sections.append(desktop)
    if args.results:
        # A hand-written section that begins with the notes heading stays as
        # it is; everything above it is written anew.
        notes = ''
        if os.path.exists(args.results):
            with open(args.results) as f:
                text = f.read()
            at = text.find('\n' + NOTES_HEADING)
            notes = text[at:] if at >= 0 else ''
        with open(args.results, 'w') as f:
            f.write('# Benchmark results\n\n')
            f.write(f'Run on {datetime.date.today().isoformat()}, {os.cpu_count()} cores, '
                    f'{platform.platform()}. Warm: one untimed run of every command first. '
                    f'Cold: `sync; echo 3 > /proc/sys/vm/drop_caches` before every run of every '
                    f'command{" (not allowed on this machine: no cold runs)" if cold_refused else ""}. '
                    f'The commands are timed in turn, run after run.\n\n')
            f.write('Commands (ROOT is the tree):\n\n')
            for tool in tools_for('ROOT', 'OUT', set()):
                f.write(f"- {tool.name}: `{' '.join(os.path.basename(a) if a.startswith(ROOT) else a for a in tool.argv)}`\n")
            f.write('\n' + '\n\n'.join(sections) + '\n')
            f.write(notes)


if __name__ == '__main__':
    main()
