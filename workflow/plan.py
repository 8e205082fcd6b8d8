#!/usr/bin/env python3
"""Plan of a whole analysis: sample blocks, runs of chromosomes, the jobs of
every stage and their memory estimates, derived from the workflow's config.

The Snakefile imports this module; run alone it prints the plan, or picks the
largest sample block size whose block jobs fit a memory budget:

    python3 workflow/plan.py --configfile my.yaml
    python3 workflow/plan.py --configfile my.yaml --fit-mem 8000

Memory estimates (MiB) follow what each program holds:
  descriptives      per site coordinate, mean and SD; one read buffer per sample
  selfgram          (sites of the run + 10) x block samples doubles, two
                    block x block matrices, the run's mean and SD tables
  crossgram         (sites of the run + 10) x (row + column samples) doubles,
                    two row x column matrices, mean and SD tables
  grameigen         a few n x n matrices (sum, blocks, eigenvectors, workspace)
  stdweights/cenweights  sites x K doubles of loadings, mean and SD tables,
                    one read buffer per sample
Tables that grow while read are counted twice (a vector's growth may hold the
old and the new storage at once); every estimate gets a fixed base for the
process and 10% slack, rounded up to whole MiB.
"""

import argparse
import json
import math
import os
import re
import sys

MIB = 1 << 20
BASE_MB = 32            # process, libraries, small tables
SLACK = 1.10
READ_BUFFER = 1 << 20   # one whole-file reader (sample list, descriptives, block files)
STREAM_BUFFER = 64 << 10  # per sample, when all samples' files are read in step

ANALYSES = ("std", "cen")
LOADINGS_PROGRAM = {"std": "stdweights", "cen": "cenweights"}

DEFAULTS = {
    "meth_prefix": "data/meth/",
    "samples": "data/samples.txt",
    "chromosomes": "1-22",
    "block_size": 0,
    "n_blocks": 0,
    "mem_mb_per_job": 0,
    "runs": "per_chromosome",
    "K": 10,
    "analyses": ["std", "cen"],
    "label": "meth",
    "out": "results/",
    "groups": "",
    "bin_dir": "",
}


class PlanError(Exception):
    """A config or input that cannot give a plan; the message says why."""


# ---------------------------------------------------------------- config

def parse_chromosomes(value):
    """Chromosome numbers from a list of numbers and ranges ("1-22", [1, 2, "5-7"]),
    ascending, each once."""
    items = value if isinstance(value, list) else str(value).replace(",", " ").split()
    chroms = set()
    for item in items:
        text = str(item).strip()
        a, sep, b = text.partition("-")
        try:
            lo = int(a)
            hi = int(b) if sep else lo
        except ValueError:
            raise PlanError(f"chromosomes: {text!r} is neither a number nor a range like 1-22")
        if lo > hi:
            raise PlanError(f"chromosomes: range {text} runs backwards")
        chroms.update(range(lo, hi + 1))
    if not chroms:
        raise PlanError("chromosomes: no chromosome given")
    return sorted(chroms)


def consecutive_stretches(chroms):
    """Maximal runs of consecutive numbers of an ascending list, as (first, last)."""
    runs = []
    for c in chroms:
        if runs and runs[-1][1] == c - 1:
            runs[-1] = (runs[-1][0], c)
        else:
            runs.append((c, c))
    return runs


def parse_runs(value, chroms):
    """Runs of chromosomes for the block jobs, as (first, last) pairs covering
    every chromosome exactly once. "per_chromosome": one run each; "all": one
    run of all of them (one per stretch of consecutive numbers, since a block
    program reads every chromosome from first to last); or a list of ranges."""
    if value in ("per_chromosome", "per-chromosome"):
        return [(c, c) for c in chroms]
    if value == "all":
        return consecutive_stretches(chroms)
    if not isinstance(value, list) or not value:
        raise PlanError("runs: give per_chromosome, all, or a list of ranges such as [1-11, 12-22]")
    runs = []
    for item in value:
        text = str(item).strip()
        try:
            a, _, b = text.partition("-")
            first, last = int(a), int(b if b else a)
        except ValueError:
            raise PlanError(f"runs: {text!r} is not a range such as 1-11")
        if first > last:
            raise PlanError(f"runs: range {text} runs backwards")
        runs.append((first, last))
    covered = []
    for first, last in runs:
        covered.extend(range(first, last + 1))
    if sorted(covered) != list(chroms):
        raise PlanError(f"runs: {value} must cover the chromosomes {format_chroms(chroms)} "
                        "exactly once, each run a stretch of consecutive chromosomes")
    return sorted(runs)


def format_chroms(chroms):
    return " ".join(f"{a}" if a == b else f"{a}-{b}" for a, b in consecutive_stretches(chroms))


def read_sample_list(path):
    """Sample names as the block programs read them: every line is a name (a
    carriage return stays part of it); only the empty piece after a final line
    feed is none."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as e:
        raise PlanError(f"cannot read the sample list {path}: {e.strerror}")
    lines = data.split(b"\n")
    if lines and lines[-1] == b"":
        lines.pop()
    names = [line.decode("utf-8", "surrogateescape") for line in lines]
    for i, name in enumerate(names, 1):
        if not name:
            raise PlanError(f"the sample list {path} has an empty line (line {i}); remove it")
    if not names:
        raise PlanError(f"the sample list {path} names no sample")
    return names


def methylation_path(meth_prefix, chrom, name):
    return f"{meth_prefix}chr{chrom}/{name}.csv"


def count_data_lines(path):
    """Lines after the header; a last line without a line feed counts."""
    try:
        with open(path, "rb") as f:
            lines, last = 0, b"\n"
            while True:
                chunk = f.read(1 << 22)
                if not chunk:
                    break
                lines += chunk.count(b"\n")
                last = chunk[-1:]
    except OSError as e:
        raise PlanError(f"cannot read the methylation file {path}: {e.strerror}")
    if last != b"\n":
        lines += 1
    return max(0, lines - 1)


def count_sites(paths, cache_path=None):
    """Sites of each file, remembered in a small cache keyed by size and
    modification time, so that parsing the workflow again (once per cluster
    job) does not read the files again."""
    cache = {}
    if cache_path:
        try:
            with open(cache_path) as f:
                cache = json.load(f)
        except (OSError, ValueError):
            cache = {}
    counts, changed = [], False
    for p in paths:
        try:
            st = os.stat(p)
        except OSError as e:
            raise PlanError(f"cannot read the methylation file {p}: {e.strerror}")
        key = f"{st.st_size}:{st.st_mtime_ns}"
        hit = cache.get(p)
        if hit and hit[0] == key:
            counts.append(hit[1])
            continue
        n = count_data_lines(p)
        cache[p] = [key, n]
        counts.append(n)
        changed = True
    if cache_path and changed:
        try:
            os.makedirs(os.path.dirname(cache_path) or ".", exist_ok=True)
            tmp = f"{cache_path}.{os.getpid()}.tmp"
            with open(tmp, "w") as f:
                json.dump(cache, f)
            os.replace(tmp, cache_path)
        except OSError:
            pass  # the cache only saves time
    return counts


# ---------------------------------------------------------------- blocks

def blocks_of_size(n, size):
    """Consecutive blocks of `size` samples, the last one possibly smaller."""
    return [(a, min(a + size - 1, n)) for a in range(1, n + 1, size)]


def blocks_by_count(n, count):
    """`count` consecutive blocks whose sizes differ by at most one."""
    count = min(count, n)
    return [(i * n // count + 1, (i + 1) * n // count) for i in range(count)]


# ---------------------------------------------------------------- memory

def to_mb(nbytes):
    return BASE_MB + math.ceil(nbytes * SLACK / MIB)


def mem_descriptives(sites, n):
    return to_mb(2 * sites * (4 + 8 + 8) + n * STREAM_BUFFER + READ_BUFFER)


def mem_selfgram(run_sites, rows):
    return to_mb((run_sites + 10) * rows * 8 + 2 * rows * rows * 8
                 + 2 * 2 * run_sites * 8 + READ_BUFFER)


def mem_crossgram(run_sites, rows, cols):
    return to_mb((run_sites + 10) * (rows + cols) * 8 + 2 * rows * cols * 8
                 + 2 * 2 * run_sites * 8 + READ_BUFFER)


def mem_grameigen(n):
    return to_mb(6 * n * n * 8 + READ_BUFFER)


def mem_loadings(sites, n, k):
    return to_mb(2 * sites * k * 8 + 2 * 2 * sites * 8 + n * k * 8
                 + n * STREAM_BUFFER + READ_BUFFER)


def block_jobs_peak(blocks, run_sites):
    """Largest estimate over the selfgram and crossgram jobs of a layout."""
    peak = 0
    biggest = max(b - a + 1 for a, b in blocks)
    sizes = sorted((b - a + 1 for a, b in blocks), reverse=True)
    for s in run_sites:
        peak = max(peak, mem_selfgram(s, biggest))
        if len(sizes) > 1:
            peak = max(peak, mem_crossgram(s, sizes[0], sizes[1]))
    return peak


def fit_block_size(n, run_sites, mem_mb):
    """Largest block size whose selfgram and crossgram jobs all fit in
    `mem_mb` MiB, or 0 when not even blocks of one sample fit."""
    # The peak grows with the block size, so search for the last size that fits.
    lo, hi = 0, n
    while lo < hi:
        mid = (lo + hi + 1) // 2
        if block_jobs_peak(blocks_of_size(n, mid), run_sites) <= mem_mb:
            lo = mid
        else:
            hi = mid - 1
    return lo


# ---------------------------------------------------------------- plan

def as_dir(path):
    """A folder prefix with its trailing slash (the programs join prefixes
    with nothing inserted), without "./" or "//" pieces."""
    norm = os.path.normpath(path) if path else "."
    if norm == ".":
        return ""  # the working folder
    return norm if norm.endswith("/") else norm + "/"


def as_int(config, key):
    try:
        return int(config[key] or 0)
    except (TypeError, ValueError):
        raise PlanError(f"{key}: {config[key]!r} is not a whole number")


def default_bin_dir(repo_dir):
    """The programs' folder when the config gives none. Installed, the
    workflow is <prefix>/share/methpca/workflow and the programs are in
    <prefix>/bin (../../../bin from the Snakefile); in a source tree they are
    in its build/bin."""
    installed = os.path.normpath(os.path.join(repo_dir, "..", "..", "bin"))
    share = os.path.dirname(os.path.normpath(repo_dir))
    if (os.path.basename(os.path.normpath(repo_dir)) == "methpca" and os.path.basename(share) == "share"
            and os.access(os.path.join(installed, "descriptives"), os.X_OK)):
        return installed
    return os.path.join(repo_dir, "build", "bin")


class Plan:
    """Everything the workflow derives from its config."""

    def __init__(self, config, repo_dir=None):
        cfg = dict(DEFAULTS)
        cfg.update({k: v for k, v in config.items() if v is not None})
        self.config = cfg
        self.meth_prefix = str(cfg["meth_prefix"])
        self.samples_file = str(cfg["samples"])
        self.out = as_dir(str(cfg["out"]))
        self.label = str(cfg["label"])
        self.groups = str(cfg["groups"] or "")
        if not re.fullmatch(r"[A-Za-z0-9_.+-]+", self.label):
            raise PlanError(f"label: {self.label!r} must be letters, digits and _ . + - only")
        bin_dir = str(cfg["bin_dir"] or "") or default_bin_dir(repo_dir or os.getcwd())
        self.bin_dir = os.path.abspath(bin_dir)

        self.chroms = parse_chromosomes(cfg["chromosomes"])
        self.runs = parse_runs(cfg["runs"], self.chroms)
        self.k = as_int(cfg, "K")
        analyses = cfg["analyses"]
        if isinstance(analyses, str):
            analyses = ["std", "cen"] if analyses == "both" else analyses.replace(",", " ").split()
        self.analyses = [a for a in ANALYSES if a in analyses]
        unknown = [a for a in analyses if a not in ANALYSES]
        if unknown or not self.analyses:
            raise PlanError(f"analyses: give std, cen or both, not {analyses}")

        self.names = read_sample_list(self.samples_file)
        n = self.n = len(self.names)
        if self.k < 1 or self.k > n:
            raise PlanError(f"K: {self.k} components asked for, but there are {n} samples")

        # Sites per chromosome, from the first sample's methylation files.
        first = [methylation_path(self.meth_prefix, c, self.names[0]) for c in self.chroms]
        counts = count_sites(first, os.path.join(self.out, "logs", "site_counts.json"))
        self.sites = dict(zip(self.chroms, counts))
        self.run_sites = [sum(self.sites[c] for c in range(a, b + 1)) for a, b in self.runs]

        block_size, n_blocks = as_int(cfg, "block_size"), as_int(cfg, "n_blocks")
        mem_per_job = as_int(cfg, "mem_mb_per_job")
        if block_size > 0:
            self.blocks, self.block_source = blocks_of_size(n, block_size), f"block_size {block_size}"
        elif n_blocks > 0:
            self.blocks, self.block_source = blocks_by_count(n, n_blocks), f"n_blocks {n_blocks}"
        elif mem_per_job > 0:
            size = fit_block_size(n, self.run_sites, mem_per_job)
            if size == 0:
                raise PlanError(f"mem_mb_per_job: not even blocks of one sample fit in {mem_per_job} MiB "
                                f"(one sample needs {block_jobs_peak([(1, 1), (2, 2)], self.run_sites)} MiB); "
                                "use shorter runs of chromosomes or more memory")
            self.blocks = blocks_of_size(n, size)
            self.block_source = f"largest fitting mem_mb_per_job {mem_per_job}"
        else:
            self.blocks, self.block_source = [(1, n)], "one block (no block_size, n_blocks or mem_mb_per_job)"
        # Block files of different layouts must not meet in one folder: the
        # eigen step takes every block file under a prefix.
        if block_size <= 0 and n_blocks > 0:
            self.layout = f"n{n}_count{len(self.blocks)}"
        else:
            self.layout = f"n{n}_size{self.blocks[0][1]}"

    # ---- paths (all relative to the working folder, as given in the config)

    @property
    def des_prefix(self):
        return self.out + "des/"

    @property
    def results_prefix(self):
        return self.out + "results/"

    def des_file(self, chrom):
        return f"{self.des_prefix}des_chr{chrom}.csv"

    def run_name(self, run):
        return f"chr{run[0]}-{run[1]}"

    def block_prefix(self, run):
        return f"{self.out}blocks/{self.layout}/{self.run_name(run)}/"

    def analysis_label(self, analysis):
        return f"{self.label}_{analysis}"

    def eigen_files(self, analysis):
        base = self.results_prefix + self.analysis_label(analysis)
        return [base + "_eigenval.csv", base + "_eigenvec.csv", base + "_pca.svg"]

    def loadings_file(self, analysis, chrom):
        return f"{self.results_prefix}loadings/{self.analysis_label(analysis)}_loadings_chr{chrom}.csv"

    def meth_files(self, chroms, first=1, last=None):
        last = self.n if last is None else last
        return [methylation_path(self.meth_prefix, c, self.names[s - 1])
                for s in range(first, last + 1) for c in chroms]

    def selfgram_files(self, run, block):
        a, b = block
        p = self.block_prefix(run)
        return [f"{p}diag_{a}.{b}_.csv", f"{p}diagst_{a}.{b}_.csv"]

    def crossgram_files(self, run, row, col):
        p = self.block_prefix(run)
        tail = f"{row[0]}.{row[1]}_{col[0]}.{col[1]}_.csv"
        return [f"{p}rect_{tail}", f"{p}rectst_{tail}"]

    def block_pairs(self):
        return [(self.blocks[i], self.blocks[j])
                for i in range(len(self.blocks)) for j in range(i + 1, len(self.blocks))]

    def block_files(self, analysis):
        """Every block file that the eigen step of `analysis` reads."""
        pick = 1 if analysis == "std" else 0
        files = []
        for run in self.runs:
            files += [self.selfgram_files(run, b)[pick] for b in self.blocks]
            files += [self.crossgram_files(run, r, c)[pick] for r, c in self.block_pairs()]
        return files

    def final_files(self):
        files = []
        for a in self.analyses:
            files += self.eigen_files(a)
            files += [self.loadings_file(a, c) for c in self.chroms]
        return files

    # ---- memory per job

    def run_sites_of(self, first, last):
        return sum(self.sites.get(c, 0) for c in range(first, last + 1))

    def stages(self):
        """(stage, jobs, peak MiB over its jobs) in the order they run."""
        nb, npairs = len(self.blocks), len(self.block_pairs())
        sizes = sorted((b - a + 1 for a, b in self.blocks), reverse=True)
        most = max(self.sites.values())
        rows = [
            ("descriptives", len(self.chroms), mem_descriptives(most, self.n)),
            ("selfgram", nb * len(self.runs), max(mem_selfgram(s, sizes[0]) for s in self.run_sites)),
            ("crossgram", npairs * len(self.runs),
             max(mem_crossgram(s, sizes[0], sizes[1]) for s in self.run_sites) if npairs else 0),
            ("grameigen", len(self.analyses), mem_grameigen(self.n)),
        ]
        for a in self.analyses:
            rows.append((LOADINGS_PROGRAM[a], len(self.chroms), mem_loadings(most, self.n, self.k)))
        return rows

    def text(self):
        sizes = sorted({b - a + 1 for a, b in self.blocks})
        size_text = str(sizes[0]) if len(sizes) == 1 else f"{sizes[0]} to {sizes[-1]}"
        lines = [
            "methpca workflow plan",
            f"  samples        {self.n} ({self.samples_file})",
            f"  blocks         {len(self.blocks)} of {size_text} samples ({self.block_source})",
            f"  chromosomes    {format_chroms(self.chroms)}; sites "
            + ", ".join(f"chr{c} {self.sites[c]}" for c in self.chroms),
            f"  runs           {len(self.runs)}: " + " ".join(self.run_name(r) for r in self.runs),
            f"  analyses       {' '.join(self.analyses)}, K = {self.k}",
            f"  output folder  {self.out or 'the working folder'}",
            "  stage          jobs  estimated peak memory per job",
        ]
        total = 0
        for stage, jobs, mb in self.stages():
            total += jobs
            lines.append(f"  {stage:<13}{jobs:>6}  {mb} MiB" if jobs else f"  {stage:<13}{jobs:>6}")
        lines.append(f"  all stages   {total:>6}")
        return "\n".join(lines) + "\n"


# ---------------------------------------------------------------- command line

def load_config(paths, overrides):
    config = {}
    for path in paths:
        config.update(load_yaml(path))
    for item in overrides:
        key, sep, value = item.partition("=")
        if not sep:
            raise PlanError(f"--config {item}: write KEY=VALUE")
        config[key] = parse_scalar(value)
    return config


def load_yaml(path):
    try:
        import yaml
    except ImportError:
        raise PlanError("reading a config file needs the Python yaml module (Debian package python3-yaml)")
    try:
        with open(path) as f:
            return yaml.safe_load(f) or {}
    except OSError as e:
        raise PlanError(f"cannot read the config file {path}: {e.strerror}")


def parse_scalar(text):
    try:
        return int(text)
    except ValueError:
        return text


def main(argv=None):
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description="Print the plan of the workflow, or pick a block size.")
    ap.add_argument("--configfile", action="append", default=[],
                    help="config file(s), read after workflow/config.yaml")
    ap.add_argument("--config", nargs="*", default=[], metavar="KEY=VALUE", help="config overrides")
    ap.add_argument("--fit-mem", type=int, metavar="MB",
                    help="print the largest block size whose block jobs fit in MB MiB")
    args = ap.parse_args(argv)
    try:
        config = load_config([os.path.join(here, "config.yaml")] + args.configfile, args.config)
        if args.fit_mem is not None:
            config.update(block_size=0, n_blocks=0, mem_mb_per_job=args.fit_mem)
        plan = Plan(config, repo_dir=os.path.dirname(here))
    except PlanError as e:
        print(f"workflow: {e}")
        return 1
    if args.fit_mem is not None:
        print(f"largest block size that fits {args.fit_mem} MiB per job: {plan.blocks[0][1]} samples "
              f"({len(plan.blocks)} block{'s' if len(plan.blocks) != 1 else ''})")
    else:
        sys.stdout.write(plan.text())
    return 0


if __name__ == "__main__":
    sys.exit(main())
