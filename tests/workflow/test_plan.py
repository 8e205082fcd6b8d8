"""Unit tests of workflow/plan.py: blocks, runs, sample list, site counts,
memory fit and the file names the Snakefile relies on."""

import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "workflow"))
import plan  # noqa: E402


class Blocks(unittest.TestCase):
    def test_by_count_balanced_and_consecutive(self):
        self.assertEqual(plan.blocks_by_count(11, 3), [(1, 3), (4, 7), (8, 11)])
        self.assertEqual(plan.blocks_by_count(12, 3), [(1, 4), (5, 8), (9, 12)])
        self.assertEqual(plan.blocks_by_count(2, 5), [(1, 1), (2, 2)])
        for n in range(1, 40):
            for m in range(1, n + 1):
                b = plan.blocks_by_count(n, m)
                self.assertEqual(len(b), m)
                self.assertEqual(b[0][0], 1)
                self.assertEqual(b[-1][1], n)
                self.assertTrue(all(b[i][1] + 1 == b[i + 1][0] for i in range(m - 1)))
                sizes = [y - x + 1 for x, y in b]
                self.assertLessEqual(max(sizes) - min(sizes), 1)

    def test_of_size_last_smaller(self):
        self.assertEqual(plan.blocks_of_size(10, 4), [(1, 4), (5, 8), (9, 10)])
        self.assertEqual(plan.blocks_of_size(3, 5), [(1, 3)])


class Chromosomes(unittest.TestCase):
    def test_forms(self):
        self.assertEqual(plan.parse_chromosomes("1-3"), [1, 2, 3])
        self.assertEqual(plan.parse_chromosomes([5, 1, "2-3", 3]), [1, 2, 3, 5])
        self.assertEqual(plan.parse_chromosomes("7"), [7])
        for bad in ("x", "3-1", [], "-2"):
            with self.assertRaises(plan.PlanError):
                plan.parse_chromosomes(bad)

    def test_runs(self):
        chroms = [1, 2, 3, 5]
        self.assertEqual(plan.parse_runs("per_chromosome", chroms), [(1, 1), (2, 2), (3, 3), (5, 5)])
        # a block program reads every chromosome from first to last, so a gap splits "all"
        self.assertEqual(plan.parse_runs("all", chroms), [(1, 3), (5, 5)])
        self.assertEqual(plan.parse_runs(["5", "1-3"], chroms), [(1, 3), (5, 5)])
        for bad in (["1-2"], ["1-3", "3-5"], ["1-5"], ["1-3", "5", "5"], "some", ["a-b"]):
            with self.assertRaises(plan.PlanError):
                plan.parse_runs(bad, chroms)


class Files(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def write(self, name, data):
        path = os.path.join(self.dir.name, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def test_sample_list(self):
        self.assertEqual(plan.read_sample_list(self.write("a", b"A\nB\n")), ["A", "B"])
        self.assertEqual(plan.read_sample_list(self.write("b", b"A\nB")), ["A", "B"])
        self.assertEqual(plan.read_sample_list(self.write("c", b"A\r\nB\n")), ["A\r", "B"])
        for data in (b"A\n\nB\n", b"A\n\n", b""):
            with self.assertRaises(plan.PlanError):
                plan.read_sample_list(self.write("d", data))
        with self.assertRaises(plan.PlanError):
            plan.read_sample_list(os.path.join(self.dir.name, "missing"))

    def test_data_lines(self):
        self.assertEqual(plan.count_data_lines(self.write("m1", b"h\n1,0.5\n2,0.5\n")), 2)
        self.assertEqual(plan.count_data_lines(self.write("m2", b"h\n1,0.5\n2,0.5")), 2)
        self.assertEqual(plan.count_data_lines(self.write("m3", b"h\n")), 0)
        self.assertEqual(plan.count_data_lines(self.write("m4", b"")), 0)

    def test_site_cache_follows_changes(self):
        path = self.write("m", b"h\n1,0\n")
        cache = os.path.join(self.dir.name, "cache", "sites.json")
        self.assertEqual(plan.count_sites([path], cache), [1])
        self.assertTrue(os.path.exists(cache))
        self.write("m", b"h\n1,0\n2,0\n3,0\n")
        self.assertEqual(plan.count_sites([path], cache), [3])

    def test_plan_names(self):
        names = [f"S{i}" for i in range(1, 8)]
        self.write("samples.txt", "".join(n + "\n" for n in names).encode())
        for c in (1, 2):
            for n in names:
                self.write(f"meth/chr{c}/{n}.csv", b"h\n" + b"1,0.5\n" * (10 * c))
        cwd = os.getcwd()
        os.chdir(self.dir.name)
        self.addCleanup(os.chdir, cwd)
        config = {"meth_prefix": "meth/", "samples": "samples.txt", "chromosomes": "1-2",
                  "road": "blocks", "block_size": 3, "runs": "all", "K": 2, "analyses": ["cen", "std"],
                  "label": "x", "out": "o", "bin_dir": "/b"}
        p = plan.Plan(config)
        self.assertEqual(p.blocks, [(1, 3), (4, 6), (7, 7)])
        self.assertEqual(p.layout, "n7_size3")
        self.assertEqual(p.runs, [(1, 2)])
        self.assertEqual(p.sites, {1: 10, 2: 20})
        self.assertEqual(p.analyses, ["std", "cen"])
        self.assertEqual(p.selfgram_files((1, 2), (4, 6)),
                         ["o/blocks/n7_size3/chr1-2/diag_4.6_.csv", "o/blocks/n7_size3/chr1-2/diagst_4.6_.csv"])
        self.assertEqual(p.crossgram_files((1, 2), (1, 3), (7, 7)),
                         ["o/blocks/n7_size3/chr1-2/rect_1.3_7.7_.csv", "o/blocks/n7_size3/chr1-2/rectst_1.3_7.7_.csv"])
        self.assertEqual(len(p.block_files("std")), 3 + 3)
        self.assertTrue(all("st_" in f for f in p.block_files("std")))
        self.assertFalse(any("st_" in f for f in p.block_files("cen")))
        self.assertEqual(p.loadings_file("cen", 2), "o/results/loadings/x_cen_loadings_chr2.csv")
        self.assertEqual(p.eigen_files("std")[:2], ["o/results/x_std_eigenval.csv", "o/results/x_std_eigenvec.csv"])
        self.assertEqual(p.meth_files([1, 2], 2, 3),
                         ["meth/chr1/S2.csv", "meth/chr2/S2.csv", "meth/chr1/S3.csv", "meth/chr2/S3.csv"])
        stages = {s: (jobs, mb) for s, jobs, mb, _ in p.stages()}
        self.assertEqual(stages["selfgram"][0], 3)
        self.assertEqual(stages["crossgram"][0], 3)
        self.assertEqual(stages["weights"][0], 2)
        self.assertIn("blocks         3 of 1 to 3 samples (block_size 3)", p.text())

        p = plan.Plan(dict(config, block_size=0, n_blocks=3, runs="per_chromosome"))
        self.assertEqual(p.layout, "n7_count3")
        self.assertEqual(p.blocks, [(1, 2), (3, 4), (5, 7)])
        for bad in ({"K": 8}, {"K": 0}, {"label": "a/b"}, {"analyses": ["pca"]}, {"mem_mb_per_job": 1, "block_size": 0},
                    {"road": "fast"}, {"max_job_hours": 0}, {"max_job_hours": "x"}):
            with self.assertRaises(plan.PlanError, msg=str(bad)):
                plan.Plan(dict(config, **bad))


class Folders(unittest.TestCase):
    def test_out_prefix(self):
        for given, want in (("wf", "wf/"), ("wf/", "wf/"), ("./wf", "wf/"), ("a//b/", "a/b/"),
                            ("/x/y", "/x/y/"), (".", ""), ("", ""), ("/", "/")):
            self.assertEqual(plan.as_dir(given), want, given)


class BinDir(unittest.TestCase):
    def test_installed_workflow_finds_prefix_bin_else_build_tree(self):
        with tempfile.TemporaryDirectory() as d:
            share = os.path.join(d, "share", "methpca")
            os.makedirs(os.path.join(share, "workflow"))
            self.assertEqual(plan.default_bin_dir(share), os.path.join(share, "build", "bin"))
            os.makedirs(os.path.join(d, "bin"))
            prog = os.path.join(d, "bin", "descriptives")
            open(prog, "w").close()
            os.chmod(prog, 0o755)
            self.assertEqual(plan.default_bin_dir(share), os.path.join(d, "bin"))
            # A source tree beside an installed prefix keeps its own build.
            repo = os.path.join(d, "src", "methpca")
            os.makedirs(repo)
            self.assertEqual(plan.default_bin_dir(repo), os.path.join(repo, "build", "bin"))


class Memory(unittest.TestCase):
    def test_estimates_follow_what_programs_hold(self):
        # the inner-product programs hold their result matrices, two of them
        self.assertGreaterEqual(plan.mem_fullgram(10000) - plan.BASE_MB, 2 * 10000**2 * 8 * plan.SLACK // plan.MIB)
        self.assertGreater(plan.mem_crossgram(1000, 2000), plan.mem_selfgram(1000))
        # weights holds both analyses' tables
        self.assertGreater(plan.mem_loadings(20000, 20, 2), plan.mem_loadings(20000, 20))
        self.assertGreater(plan.mem_loadings(20000, 20), plan.mem_loadings(20000, 10))
        # read buffers: about 8 MiB in all, 32 to 256 KiB a file
        self.assertEqual(plan.stream_bytes(2), 2 * plan.STREAM_MAX)
        self.assertEqual(plan.stream_bytes(200), plan.STREAM_TOTAL)
        self.assertEqual(plan.stream_bytes(5000), 5000 * plan.STREAM_MIN)
        # mapped windows: about 32 MiB in all, 128 to 512 KiB a file, none
        # when a file's share would be smaller
        self.assertEqual(plan.mapped_bytes(40), 40 * plan.MAP_MAX)
        self.assertEqual(plan.mapped_bytes(200), 200 * (plan.MAP_TOTAL // 200))
        self.assertEqual(plan.mapped_bytes(257), 0)
        self.assertGreater(plan.mem_descriptives(200), plan.mem_descriptives(300))

    def test_fit_is_the_largest_that_fits(self):
        for mem in (100, 1000, 4000, 16000):
            b = plan.fit_block_size(50000, mem)
            self.assertGreater(b, 0)
            self.assertLessEqual(plan.block_jobs_peak(plan.blocks_of_size(50000, b)), mem)
            if b < 50000:
                self.assertGreater(plan.block_jobs_peak(plan.blocks_of_size(50000, b + 1)), mem)
        self.assertEqual(plan.fit_block_size(1500, 10), 0)
        self.assertEqual(plan.fit_block_size(20, 10**6), 20)

    def test_block_count_is_the_fewest_that_fit(self):
        runs = [2_000_000, 3_000_000]
        for hours in (0.01, 0.5, 4, 12):
            c = plan.fit_block_count(20000, runs, hours)
            self.assertLessEqual(plan.block_jobs_hours(plan.blocks_by_count(20000, c), runs), hours)
            if c > 1:
                self.assertGreater(plan.block_jobs_hours(plan.blocks_by_count(20000, c - 1), runs), hours)
        self.assertEqual(plan.fit_block_count(10, runs, 12), 1)
        # the estimate: n(n+1)/2 cells x sites x 2 matrices at KERNEL_RATE
        self.assertAlmostEqual(plan.kernel_hours(plan.cells_self(1000), 10**6),
                               1000 * 1001 / 2 * 10**6 * 2 / plan.KERNEL_RATE / 3600)


class Roads(unittest.TestCase):
    """The road the plan takes and the jobs and files of each."""

    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)
        cwd = os.getcwd()
        os.chdir(self.dir.name)
        self.addCleanup(os.chdir, cwd)
        self.names = [f"S{i}" for i in range(1, 10)]
        with open("samples.txt", "w") as f:
            f.write("".join(n + "\n" for n in self.names))
        for c in (1, 2, 3, 5):
            os.makedirs(f"meth/chr{c}")
            for n in self.names:
                with open(f"meth/chr{c}/{n}.csv", "w") as f:
                    f.write("h\n" + "1,0.5\n" * (100 * c))
        self.config = {"meth_prefix": "meth/", "samples": "samples.txt", "chromosomes": [1, 2, 3, 5],
                       "K": 2, "label": "x", "out": "o", "bin_dir": "/b"}

    def test_auto_takes_one_reading(self):
        p = plan.Plan(self.config)
        self.assertEqual((p.road, p.road_source), ("one_reading", "auto"))
        self.assertEqual(p.runs, [(1, 3), (5, 5)])  # runs "all": one per stretch of consecutive chromosomes
        self.assertEqual(p.layout, "n9_full")
        self.assertEqual(p.block_files("std"), ["o/blocks/n9_full/chr1-3/diagst_1.9_.csv",
                                                "o/blocks/n9_full/chr5-5/diagst_1.9_.csv"])
        self.assertEqual(p.block_files("cen")[1], "o/blocks/n9_full/chr5-5/diag_1.9_.csv")
        self.assertEqual(p.run_of(2), (1, 3))
        self.assertEqual(p.loadings_jobs(), [("weights", ["std", "cen"])])
        stages = [s[0] for s in p.stages()]
        self.assertEqual(stages, ["fullgram", "grameigen", "weights"])
        self.assertEqual(p.stages()[0][1], 2)
        self.assertIn("  road           one_reading (auto)", p.text())
        self.assertNotIn("  blocks ", p.text())
        # the block keys belong to the block road
        self.assertEqual(plan.Plan(dict(self.config, n_blocks=3)).road, "one_reading")

    def test_auto_takes_blocks_for_long_or_large_jobs(self):
        # kernel work: 45 cells x 600 sites x 2 = 54,000 cell-updates for the run chr1-3
        long = 54_000 / plan.KERNEL_RATE / 3600
        p = plan.Plan(dict(self.config, max_job_hours=long * 0.99))
        self.assertEqual(p.road, "blocks")
        self.assertIn("above max_job_hours", p.road_source)
        self.assertGreater(len(p.blocks), 1)  # none given: the fewest blocks that fit
        self.assertTrue(p.layout.startswith("n9_count"))
        self.assertLessEqual(plan.block_jobs_hours(p.blocks, p.run_sites), long * 0.99)
        self.assertEqual(plan.Plan(dict(self.config, max_job_hours=long * 1.01)).road, "one_reading")
        p = plan.Plan(dict(self.config, mem_mb_per_job=plan.mem_fullgram(9) - 1))
        self.assertEqual(p.road, "blocks")
        self.assertIn("above mem_mb_per_job", p.road_source)
        self.assertEqual(plan.Plan(dict(self.config, mem_mb_per_job=plan.mem_fullgram(9))).road, "one_reading")

    def test_time_limits_follow_kernel_work_and_reading(self):
        p = plan.Plan(self.config)
        # 9 samples: chr1-3 has 600 sites, chr5 500; ten minutes at the least
        self.assertEqual(plan.job_minutes(0, 0), 10)
        self.assertGreater(p.minutes_fullgram(1, 3), 10)
        self.assertGreaterEqual(p.minutes_fullgram(1, 3), p.minutes_fullgram(5, 5))
        # twice the estimate: an hour of kernel work and an hour of reading
        self.assertEqual(plan.job_minutes(1, plan.READ_RATE * 3600), 250)
        big = plan.Plan(dict(self.config))
        big.n, big.sites = 1000, {1: 3_000_000}
        # 1000 x 3M lines: 25 minutes of reading; the kernel 2.5 minutes
        self.assertEqual(big.minutes_fullgram(1, 1), 66)
        self.assertEqual(big.minutes_loadings(1), 60)
        self.assertLess(big.minutes_selfgram(1, 1, 500), big.minutes_fullgram(1, 1))
        self.assertGreater(big.minutes_crossgram(1, 1, 500, 500), big.minutes_selfgram(1, 1, 500))
        self.assertGreater(big.minutes_grameigen(), 10)
        self.assertEqual(p.minutes_descriptives(4), 10)  # a chromosome without sites

    def test_loadings_memory_follows_the_build(self):
        # a build without weights keeps every site's loadings; one with it streams them
        p = plan.Plan(self.config)
        self.assertFalse(p.loadings_stream)
        held = {s: mb for s, _, mb, _ in p.stages()}["weights"]
        os.makedirs("bin")
        with open("bin/weights", "w"):
            pass
        os.chmod("bin/weights", 0o755)
        p = plan.Plan(dict(self.config, bin_dir="bin"))
        self.assertTrue(p.loadings_stream)
        self.assertEqual({s: mb for s, _, mb, _ in p.stages()}["weights"], plan.mem_loadings(9, 2, 2))
        self.assertGreaterEqual(plan.mem_loadings(9, 10, 1, 10**7) - plan.mem_loadings(9, 10),
                                2 * 10**7 * 10 * 8 // plan.MIB)
        self.assertGreaterEqual(held, plan.mem_loadings(9, 2, 2))

    def test_blocks_road(self):
        p = plan.Plan(dict(self.config, road="blocks", analyses="std"))
        self.assertEqual((p.blocks, p.layout), ([(1, 9)], "n9_size9"))  # fits: one block
        self.assertEqual(p.loadings_jobs(), [("stdweights", ["std"])])
        self.assertEqual([s[0] for s in p.stages()],
                         ["descriptives", "selfgram", "crossgram", "grameigen", "stdweights"])
        p = plan.Plan(dict(self.config, road="blocks", n_blocks=2, runs="per_chromosome", analyses=["cen"]))
        self.assertEqual(p.layout, "n9_count2")
        self.assertEqual({s: j for s, j, _, _ in p.stages()}["crossgram"], 4)
        self.assertEqual(p.loadings_jobs(), [("cenweights", ["cen"])])
        self.assertIn("  blocks         2 of 4 to 5 samples (n_blocks 2)", p.text())


if __name__ == "__main__":
    unittest.main()
