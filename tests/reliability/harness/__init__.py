"""Fakes, catalogues and runners shared by the reliability tests and tools/leakcheck."""
