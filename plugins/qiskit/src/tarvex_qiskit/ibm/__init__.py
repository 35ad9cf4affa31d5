"""Passes that mirror qiskit-ibm-runtime's, natively on the Tarvex core; one module per concern."""
