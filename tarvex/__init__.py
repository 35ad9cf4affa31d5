"""Tarvex: a timed circuit graph, ASAP scheduling, idle-window analysis and dynamical decoupling.

The native module `_tarvex` does the work; this package re-exports its two names unchanged and adds
pure-Python tools around them: `tarvex.timeline` draws a schedule as SVG and `python -m tarvex.demo`
runs a whole compilation on a quantum Fourier transform.
"""

from importlib.metadata import version as _distribution_version

from _tarvex import QuantumDAG, TarvexError

__all__ = ["QuantumDAG", "TarvexError", "__version__"]

__version__: str = _distribution_version("tarvex")
