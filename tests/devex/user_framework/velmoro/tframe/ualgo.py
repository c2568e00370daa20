"""Strategy algorithms (none needed here)."""
