"""Passes that mirror qiskit-ibm-runtime's, natively on the Tarvex core; one module per concern.

`generate_dd_pass_manager` and `apply_dynamical_decoupling` (from `executor`) take the arguments of
the functions of the same names in `qiskit_ibm_runtime.executor.dynamical_decoupling` and give the
same circuits. Nothing here imports qiskit-ibm-runtime: its options objects are read by attribute.
"""

from .executor import apply_dynamical_decoupling, generate_dd_pass_manager
from .scheduling import PadDynamicalDecoupling

__all__ = ["generate_dd_pass_manager", "apply_dynamical_decoupling", "PadDynamicalDecoupling"]
