"""Small containers: dot-access records and insertion-ordered mappings."""
import collections

__all__ = ["DotDict", "OrderedDict"]


class DotDict(dict):
    """A dict whose items are also read and written as attributes."""

    __slots__ = ()

    def __getattr__(self, name):
        try:
            return self[name]
        except KeyError:
            raise AttributeError(name) from None

    def __setattr__(self, name, value):
        self[name] = value

    def __delattr__(self, name):
        try:
            del self[name]
        except KeyError:
            raise AttributeError(name) from None


class OrderedDict(collections.OrderedDict):
    """An insertion-ordered mapping."""
