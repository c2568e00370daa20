"""The message table of the command channel, the refresh loop and the
fundamental queries: the chosen language's templates (see the package)."""
from velmoro.tframe.language import fill_table

fill_table(__name__)
del fill_table
