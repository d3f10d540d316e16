#!/usr/bin/env python3
"""How well the printed rules agree with the network, set by set.

    bench/readout-fidelity.py BUILD FILE.csv ...

For every CSV file (class in the last column): import, create with the
suggested rule count, train with Kestrane as import wrote the parameter file,
then `rules --data` on all the rows. Prints the network's accuracy, the
fidelity of the rule nodes' reading (the row's strongest node names the
class, `rules --nodes`) and of the vote reading (`rules`), the vote reading's
accuracy, its size, and the seconds `rules` took. Work goes into a temporary
folder. bench/mlbench-export.R writes eight of R's mlbench sets as such files.
"""
import json
import os
import subprocess
import sys
import tempfile
import time


def run(*args, cwd):
    return subprocess.run(args, cwd=cwd, check=True, capture_output=True, text=True).stdout


def main():
    build, files = os.path.abspath(sys.argv[1]), sys.argv[2:]
    tool, driver = os.path.join(build, "kestrane-tool"), os.path.join(build, "Kestrane")
    print(f"{'set':18} {'rows':>6} {'classes':>7} {'network':>8} {'nodes':>7} {'votes':>7} "
          f"{'by votes':>8} {'rules':>5} {'conds':>5} {'secs':>5}")
    for path in files:
        name = os.path.splitext(os.path.basename(path))[0]
        with tempfile.TemporaryDirectory() as work:
            log = run(tool, "import", os.path.abspath(path), "-o", name, cwd=work)
            create = next(line for line in log.splitlines() if "kestrane-tool create" in line)
            run(tool, "create", *create.split("kestrane-tool create", 1)[1].split(), cwd=work)
            run(driver, name + ".param", cwd=work)
            start = time.time()
            doc = json.loads(run(tool, "rules", name + "-trained.wgt", "--ranges", name + ".ranges",
                                 "--data", os.path.abspath(path), "--json", cwd=work))
            took = time.time() - start
        votes, evaluation = doc["vote_rules"], doc["evaluation"]
        conditions = max((len(r["conditions"]) for r in votes["rules"]), default=0)
        print(f"{name:18} {evaluation['rows']:>6} {len(doc['outputs']):>7} "
              f"{evaluation['accuracy']:>7.2f}% {evaluation['fidelity']:>6.2f}% "
              f"{votes['fidelity']:>6.2f}% {votes['accuracy']:>7.2f}% {len(votes['rules']):>5} "
              f"{conditions:>5} {took:>5.1f}")


if __name__ == "__main__":
    main()
