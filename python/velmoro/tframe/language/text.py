"""The message table of the command channel, the refresh loop and the
fundamental queries: the chosen language's templates (see the package)."""
import typing

from velmoro.tframe.language import fill_table

if typing.TYPE_CHECKING:
    def __getattr__(name: str) -> str: ...  # the templates are filled in when the module loads

fill_table(__name__)
del fill_table
