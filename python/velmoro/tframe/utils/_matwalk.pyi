"""Structure check of MAT v5 files, element by element, before they are parsed."""

# ---- written by tools/stubgen from the declarations in src/matwalk: edit those, then run make stubs ----
def checked_v5(data: bytes) -> bytes:
    """A v5 file's bytes, checked whole: given back as they are, or with compressed variables unpacked."""
