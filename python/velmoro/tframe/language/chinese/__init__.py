"""Chinese message table."""
