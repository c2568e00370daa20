"""The message table of the runtime types and the factor queries, at the
import path they use: the chosen language's templates, as `language.text`."""
from velmoro.tframe.language import fill_table

fill_table(__name__)
del fill_table
