"""Somebody's own framework: just the services the compiled modules import, and a transport
that answers a handful of commands from memory."""
