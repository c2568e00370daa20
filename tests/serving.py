"""A terminal served from the test's own process on a Unix socket."""
import contextlib
import shutil
import tempfile

from velmoro.simterm.server import Server


@contextlib.contextmanager
def serving(term, **options):
    """(server, address) of `term` served in a short folder only this user enters."""
    folder = tempfile.mkdtemp(prefix="vmt-")
    server = Server(term, "unix:{}/sock".format(folder), **options).start()
    try:
        yield server, server.address
    finally:
        server.stop()
        shutil.rmtree(folder, ignore_errors=True)
