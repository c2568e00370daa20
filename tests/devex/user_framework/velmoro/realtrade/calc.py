"""Refresh calculations of the live loop (none needed here)."""


def receive_data():
    return None
