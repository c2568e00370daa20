"""The demo: an example strategy (`strategy`) and a live session of it on the
embedded simulated terminal (`session`), as `velmoro demo` and `make demo` run it."""
