from velmoro.tframe.language import text  # noqa: F401
