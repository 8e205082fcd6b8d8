#!/usr/bin/env python3
"""Plan of a whole analysis: sample blocks, runs of chromosomes, the jobs of
every stage and their memory estimates, derived from the workflow's config.

The Snakefile imports this module; run alone it prints the plan, or picks the
largest sample block size whose block jobs fit a memory budget:

    python3 workflow/plan.py --configfile my.yaml
    python3 workflow/plan.py --configfile my.yaml --fit-mem 8000

Two roads give the same files:
  one_reading  fullgram per run of chromosomes (descriptives and the whole
               n x n matrix from one reading of the run's files), grameigen,
               loadings per chromosome
  blocks       descriptives per chromosome, selfgram per sample block and
               crossgram per pair of blocks (each per run), grameigen,
               loadings per chromosome: for sample counts whose whole matrix
               is too long for one job, or too large for its memory
"auto" takes one_reading unless the longest fullgram job's kernel work
(n(n+1)/2 cells x sites of the run x 2 matrices, at KERNEL_RATE
cell-updates/s) is above max_job_hours, or its memory is above a given
mem_mb_per_job. With both analyses the loadings of a chromosome are one
`weights` job; with one, stdweights or cenweights.

Memory estimates (MiB) follow what each program holds; none grows with the
sites, as every program reads its files in step a panel of sites at a time:
  in-step reading   read buffers of about 8 MiB in all (32 to 256 KiB a
                    file) and a few panels of 2 MiB
  descriptives      in-step reading only
  selfgram          two block x block matrices
  crossgram         two row x column matrices
  fullgram          two n x n matrices
  grameigen         a few n x n matrices (sum, blocks, eigenvectors, workspace)
  stdweights/cenweights  the n x K eigenvectors and per-sample sums
  weights           both analyses' eigenvectors and sums
Every estimate gets a fixed base for the process and 10% slack, rounded up to
whole MiB.
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
# In-step reading: all read buffers together about 8 MiB, each 32 to 256 KiB.
STREAM_TOTAL, STREAM_MIN, STREAM_MAX = 8 << 20, 32 << 10, 256 << 10
# Large files are read through mapped windows, resident while mapped: about
# 32 MiB in all, each 128 to 512 KiB; none when a file's share is smaller.
MAP_TOTAL, MAP_MIN, MAP_MAX = 32 << 20, 128 << 10, 512 << 10
PANELS = 4 * (2 << 20)  # the panels of sites a program works on, 2 MiB each
# The inner-product programs' panels: 512 KiB of values, at least 256 sites,
# of the block's width; raw, standardized and the kernel's two packed ones,
# and its pass buffer, with one to spare.
GRAM_PANEL, GRAM_MIN_SITES = 512 << 10, 256


def gram_panels(width):
    return 6 * max(GRAM_PANEL, GRAM_MIN_SITES * width * 8)
# Cell-updates per second of the inner-product kernel assumed for the job
# length (one core of a current x86 server; about 40 G on the machine the
# benchmarks ran on, but cluster nodes are often older or shared).
KERNEL_RATE = 20e9
# Data lines read per second assumed for a job's time limit: far below the
# programs' own rates (tens of millions a second), for shared file systems.
READ_RATE = 2e6
# Floating-point operations per second of the eigen step's LAPACK call.
EIGEN_RATE = 1e9

ANALYSES = ("std", "cen")
LOADINGS_PROGRAM = {"std": "stdweights", "cen": "cenweights"}
ROADS = ("auto", "one_reading", "blocks")

DEFAULTS = {
    "meth_prefix": "data/meth/",
    "samples": "data/samples.txt",
    "chromosomes": "1-22",
    "block_size": 0,
    "n_blocks": 0,
    "mem_mb_per_job": 0,
    "runs": "all",
    "road": "auto",
    "max_job_hours": 12,
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


def stream_bytes(files):
    """Read buffers of `files` files read in step."""
    return min(files * STREAM_MAX, max(STREAM_TOTAL, files * STREAM_MIN))


def mapped_bytes(files):
    """Mapped windows of `files` files read in step."""
    share = MAP_TOTAL // max(files, 1)
    return 0 if share < MAP_MIN else files * min(share, MAP_MAX)


def instep_bytes(files):
    return stream_bytes(files) + mapped_bytes(files)


def mem_descriptives(n):
    return to_mb(instep_bytes(n) + PANELS + READ_BUFFER)


def mem_selfgram(rows):
    return to_mb(2 * rows * rows * 8 + instep_bytes(rows) + gram_panels(rows) + READ_BUFFER)


def mem_crossgram(rows, cols):
    return to_mb(2 * rows * cols * 8 + instep_bytes(rows + cols) + gram_panels(rows + cols) + READ_BUFFER)


def mem_fullgram(n):
    return to_mb(2 * n * n * 8 + instep_bytes(n) + gram_panels(n) + READ_BUFFER)


def mem_grameigen(n):
    return to_mb(6 * n * n * 8 + READ_BUFFER)


def mem_loadings(n, k, analyses=1, held_sites=0):
    """`held_sites`: the sites of the chromosome for a build whose
    stdweights/cenweights keep every site's loadings (sites x K doubles,
    counted twice for the growing table) until the end: one without the
    weights program."""
    return to_mb(analyses * 2 * n * k * 8 + 2 * held_sites * k * 8 + instep_bytes(n) + PANELS + READ_BUFFER)


# ---------------------------------------------------------------- kernel work

def cells_self(rows):
    """Cells of a block's lower triangle, its diagonal included."""
    return rows * (rows + 1) // 2


def kernel_hours(cells, sites):
    """Hours of kernel work for `cells` cells over `sites` sites, both the
    centred and the standardized matrix."""
    return cells * sites * 2 / KERNEL_RATE / 3600


def job_minutes(kernel_h, lines):
    """Time limit (the runtime resource, minutes) of a job with `kernel_h`
    hours of kernel work that reads `lines` data lines: twice the estimate,
    plus ten minutes for start-up and a loaded node."""
    return int(math.ceil(2 * (kernel_h * 60 + lines / READ_RATE / 60))) + 10


def block_jobs_peak(blocks):
    """Largest memory estimate over the selfgram and crossgram jobs of a layout."""
    sizes = sorted((b - a + 1 for a, b in blocks), reverse=True)
    peak = mem_selfgram(sizes[0])
    if len(sizes) > 1:
        peak = max(peak, mem_crossgram(sizes[0], sizes[1]))
    return peak


def block_jobs_hours(blocks, run_sites):
    """Longest kernel work (hours) over the selfgram and crossgram jobs of a layout."""
    sizes = sorted((b - a + 1 for a, b in blocks), reverse=True)
    cells = cells_self(sizes[0])
    if len(sizes) > 1:
        cells = max(cells, sizes[0] * sizes[1])
    return kernel_hours(cells, max(run_sites))


def fit_block_size(n, mem_mb):
    """Largest block size whose selfgram and crossgram jobs all fit in
    `mem_mb` MiB, or 0 when not even blocks of one sample fit."""
    # The peak grows with the block size, so search for the last size that fits.
    lo, hi = 0, n
    while lo < hi:
        mid = (lo + hi + 1) // 2
        if block_jobs_peak(blocks_of_size(n, mid)) <= mem_mb:
            lo = mid
        else:
            hi = mid - 1
    return lo


def fit_block_count(n, run_sites, hours):
    """Fewest balanced blocks whose jobs' kernel work is at most `hours`
    each (blocks of one sample if none is short enough)."""
    # More blocks never make the longest job longer, so search for the first count that fits.
    lo, hi = 1, n
    while lo < hi:
        mid = (lo + hi) // 2
        if block_jobs_hours(blocks_by_count(n, mid), run_sites) <= hours:
            hi = mid
        else:
            lo = mid + 1
    return lo


# ---------------------------------------------------------------- plan

def as_dir(path):
    """A folder prefix with its trailing slash (the programs join prefixes
    with nothing inserted), without "./" or "//" pieces."""
    norm = os.path.normpath(path) if path else "."
    if norm == ".":
        return ""  # the working folder
    return norm if norm.endswith("/") else norm + "/"


def as_float(config, key):
    try:
        return float(config[key])
    except (TypeError, ValueError):
        raise PlanError(f"{key}: {config[key]!r} is not a number")


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
        # Loadings programs that write each chunk's rows as they go came with
        # the weights program; older ones keep all rows until the end.
        self.loadings_stream = os.access(os.path.join(self.bin_dir, "weights"), os.X_OK)

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

        self.max_hours = as_float(cfg, "max_job_hours")
        if self.max_hours <= 0:
            raise PlanError(f"max_job_hours: {self.max_hours} must be above 0")
        road = str(cfg["road"]).replace("-", "_")
        if road not in ROADS:
            raise PlanError(f"road: give auto, one_reading or blocks, not {cfg['road']!r}")
        mem_per_job = as_int(cfg, "mem_mb_per_job")
        # The one-reading road's job: one fullgram per run, the whole n x n matrix.
        self.fullgram_hours = kernel_hours(cells_self(n), max(self.run_sites))
        self.fullgram_mb = mem_fullgram(n)
        if road != "auto":
            self.road, self.road_source = road, "road " + road
        elif self.fullgram_hours > self.max_hours:
            self.road = "blocks"
            self.road_source = (f"auto: a fullgram job would take about {format_hours(self.fullgram_hours)} "
                                f"of kernel work, above max_job_hours {self.max_hours:g}")
        elif 0 < mem_per_job < self.fullgram_mb:
            self.road = "blocks"
            self.road_source = (f"auto: a fullgram job needs about {self.fullgram_mb} MiB, "
                                f"above mem_mb_per_job {mem_per_job}")
        else:
            self.road, self.road_source = "one_reading", "auto"

        if self.road == "one_reading":
            self.blocks, self.block_source = [(1, n)], "one reading: the whole matrix"
            self.layout = f"n{n}_full"
        else:
            self.choose_blocks(cfg, mem_per_job)
        # Both analyses' loadings of a chromosome come from one reading.
        self.together = len(self.analyses) == 2

    def choose_blocks(self, cfg, mem_per_job):
        """The sample blocks of the block road, from the first of block_size,
        n_blocks, mem_mb_per_job above 0; else the fewest blocks whose jobs
        each have at most max_job_hours of kernel work (one block if it has)."""
        n = self.n
        block_size, n_blocks = as_int(cfg, "block_size"), as_int(cfg, "n_blocks")
        by_count = False
        if block_size > 0:
            self.blocks, self.block_source = blocks_of_size(n, block_size), f"block_size {block_size}"
        elif n_blocks > 0:
            self.blocks, self.block_source = blocks_by_count(n, n_blocks), f"n_blocks {n_blocks}"
            by_count = True
        else:
            if mem_per_job > 0:
                size = fit_block_size(n, mem_per_job)
                if size == 0:
                    raise PlanError(f"mem_mb_per_job: not even blocks of one sample fit in {mem_per_job} MiB "
                                    f"(one sample needs {block_jobs_peak([(1, 1), (2, 2)])} MiB)")
                self.blocks = blocks_of_size(n, size)
                self.block_source = f"largest fitting mem_mb_per_job {mem_per_job}"
            else:
                self.blocks = [(1, n)]
                self.block_source = "one block (no block_size, n_blocks or mem_mb_per_job)"
            if block_jobs_hours(self.blocks, self.run_sites) > self.max_hours:
                count = max(fit_block_count(n, self.run_sites, self.max_hours), len(self.blocks))
                self.blocks, by_count = blocks_by_count(n, count), True
                self.block_source = f"fewest blocks whose jobs fit max_job_hours {self.max_hours:g}"
                if mem_per_job > 0:
                    self.block_source += f" and mem_mb_per_job {mem_per_job}"
        # Block files of different layouts must not meet in one folder: the
        # eigen step takes every block file under a prefix.
        if by_count and len(self.blocks) > 1:
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

    def run_of(self, chrom):
        """The run of chromosomes that holds `chrom`."""
        return next(r for r in self.runs if r[0] <= chrom <= r[1])

    def loadings_jobs(self):
        """(program, analyses) of each chromosome's loadings jobs: one weights
        job for both analyses, or stdweights / cenweights for one."""
        if self.together:
            return [("weights", list(self.analyses))]
        return [(LOADINGS_PROGRAM[a], [a]) for a in self.analyses]

    # ---- memory and length per job

    def mem_loadings_of(self, sites, analyses=1):
        """Memory of one loadings job over a chromosome of `sites` sites."""
        return mem_loadings(self.n, self.k, analyses, 0 if self.loadings_stream else sites)

    def run_sites_of(self, first, last):
        return sum(self.sites.get(c, 0) for c in range(first, last + 1))

    # Time limits (minutes) per job, from its kernel work and its reading.
    def minutes_fullgram(self, first, last):
        s = self.run_sites_of(first, last)
        return job_minutes(kernel_hours(cells_self(self.n), s), self.n * s)

    def minutes_descriptives(self, chrom):
        return job_minutes(0, self.n * self.sites.get(chrom, 0))

    def minutes_selfgram(self, first, last, rows):
        s = self.run_sites_of(first, last)
        return job_minutes(kernel_hours(cells_self(rows), s), rows * s)

    def minutes_crossgram(self, first, last, rows, cols):
        s = self.run_sites_of(first, last)
        return job_minutes(kernel_hours(rows * cols, s), (rows + cols) * s)

    def minutes_grameigen(self):
        # the symmetric eigen-decomposition, about 10 n^3 operations, after
        # the block files' n^2 values of every run
        return job_minutes(10 * self.n ** 3 / EIGEN_RATE / 3600, self.n * self.n * len(self.runs))

    def minutes_loadings(self, chrom):
        return job_minutes(0, self.n * self.sites.get(chrom, 0))

    def stages(self):
        """(stage, jobs, peak MiB over its jobs, longest kernel hours or None)
        in the order they run."""
        n, runs = self.n, len(self.runs)
        longest = max(self.run_sites)
        if self.road == "one_reading":
            rows = [("fullgram", runs, self.fullgram_mb, self.fullgram_hours)]
        else:
            nb, npairs = len(self.blocks), len(self.block_pairs())
            sizes = sorted((b - a + 1 for a, b in self.blocks), reverse=True)
            rows = [
                ("descriptives", len(self.chroms), mem_descriptives(n), None),
                ("selfgram", nb * runs, mem_selfgram(sizes[0]), kernel_hours(cells_self(sizes[0]), longest)),
                ("crossgram", npairs * runs, mem_crossgram(sizes[0], sizes[1]) if npairs else 0,
                 kernel_hours(sizes[0] * sizes[1], longest) if npairs else None),
            ]
        rows.append(("grameigen", len(self.analyses), mem_grameigen(n), None))
        for program, analyses in self.loadings_jobs():
            rows.append((program, len(self.chroms), self.mem_loadings_of(max(self.sites.values()), len(analyses)),
                         None))
        return rows

    def text(self):
        sizes = sorted({b - a + 1 for a, b in self.blocks})
        size_text = str(sizes[0]) if len(sizes) == 1 else f"{sizes[0]} to {sizes[-1]}"
        lines = [
            "methpca workflow plan",
            f"  samples        {self.n} ({self.samples_file})",
            f"  road           {self.road} ({self.road_source})",
        ]
        if self.road == "blocks":
            lines.append(f"  blocks         {len(self.blocks)} of {size_text} samples ({self.block_source})")
        lines += [
            f"  chromosomes    {format_chroms(self.chroms)}; sites "
            + ", ".join(f"chr{c} {self.sites[c]}" for c in self.chroms),
            f"  runs           {len(self.runs)}: " + " ".join(self.run_name(r) for r in self.runs),
            f"  analyses       {' '.join(self.analyses)}, K = {self.k}",
            f"  output folder  {self.out or 'the working folder'}",
            "  stage          jobs  estimated peak memory per job (longest kernel work)",
        ]
        total = 0
        for stage, jobs, mb, hours in self.stages():
            total += jobs
            line = f"  {stage:<13}{jobs:>6}"
            if jobs:
                line += f"  {mb} MiB"
                if hours is not None:
                    line += f" ({format_hours(hours)} at {KERNEL_RATE / 1e9:g} G cell-updates/s)"
            lines.append(line)
        lines.append(f"  all stages   {total:>6}")
        return "\n".join(lines) + "\n"


def format_hours(hours):
    if hours >= 1:
        return f"{hours:.1f} h"
    if hours * 60 >= 1:
        return f"{hours * 60:.0f} min"
    return f"{hours * 3600:.2g} s"


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
            config.update(block_size=0, n_blocks=0, mem_mb_per_job=args.fit_mem, road="blocks")
        plan = Plan(config, repo_dir=os.path.dirname(here))
    except PlanError as e:
        print(f"workflow: {e}")
        return 1
    if args.fit_mem is not None:
        print(f"one fullgram job of all {plan.n} samples (road one_reading) needs about {plan.fullgram_mb} MiB")
        print(f"largest block size that fits {args.fit_mem} MiB per job: {plan.blocks[0][1]} samples "
              f"({len(plan.blocks)} block{'s' if len(plan.blocks) != 1 else ''}; {plan.block_source})")
    else:
        sys.stdout.write(plan.text())
    return 0


if __name__ == "__main__":
    sys.exit(main())
