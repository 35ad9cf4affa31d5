"""Runs one native Qiskit pass RUNS times on a DAG of the benchmark circuit, for callgrind counts.

The same pass object runs every time (so its caches are warm after the first run). The cost of
one run is the difference of two totals, RUNS = 3 and RUNS = 1, halved:
  for n in 1 3; do PYTHONHASHSEED=0 OPENBLAS_NUM_THREADS=1 valgrind --tool=callgrind \\
      --callgrind-out-file=/tmp/pass-$n.cg .venv-bench/bin/python benchmarks/profile_qiskit_pass.py \\
      --runs $n --pass dd; done
(each prints "I refs"). --pass delay times PadDelay; --no-labels passes keep_labels=False.
Needs Qiskit 2.6 and the plugin (benchmarks/setup.sh).
"""

from __future__ import annotations

import argparse
import gc
import os
import sys
from pathlib import Path

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")
sys.path.insert(0, str(Path(__file__).resolve().parent))

from qiskit.circuit.library import XGate  # noqa: E402
from qiskit.converters import circuit_to_dag  # noqa: E402
from qiskit.passmanager.compilation_status import PropertySet  # noqa: E402

import qiskit_passes  # noqa: E402
import tarvex_qiskit  # noqa: E402


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--runs", type=int, default=1)
    parser.add_argument("--pass", dest="kind", choices=["dd", "delay"], default="dd")
    parser.add_argument("--gates", type=float, default=1e4)
    parser.add_argument("--no-labels", action="store_true", help="keep_labels=False")
    args = parser.parse_args()
    backend = qiskit_passes.backend()
    dag = circuit_to_dag(qiskit_passes.layered_circuit(backend, int(args.gates)))
    options = {"keep_labels": False} if args.no_labels else {}
    if args.kind == "dd":
        native = tarvex_qiskit.PadDynamicalDecoupling(target=backend.target, dd_sequence=[XGate(), XGate()], **options)
    else:
        native = tarvex_qiskit.PadDelay(target=backend.target, **options)
    gc.disable()
    for _ in range(args.runs):
        native.property_set = PropertySet()
        out = native.run(dag)
        del out


if __name__ == "__main__":
    main()
