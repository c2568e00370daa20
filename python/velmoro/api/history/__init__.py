"""History services: bar time lines."""
