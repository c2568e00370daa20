"""Message tables: one language per process, English unless chosen otherwise.

The framework's messages are templates read by key from a message table
`text`. The command channel, the refresh loop and the fundamental queries read
`velmoro.tframe.language.text`; the runtime types and the factor queries read
`velmoro.tframe.language.chinese.text`. Both hold the templates of the one
chosen language, so a run's log never mixes languages.

The language is taken from the environment variable VELMORO_LANGUAGE when the
tables are first imported ("en", the default, or "zh"), or set later with
`set_language(name)`, which refills every table at once.
"""
import importlib
import os
import sys
import warnings

__all__ = ["LANGUAGES", "set_language", "current_language", "fill_table"]

# language name -> module of its templates
LANGUAGES = {
    "en": "velmoro.tframe.language.english",
    "zh": "velmoro.tframe.language.chinese.templates",
}
_ALIASES = {"english": "en", "chinese": "zh"}
_tables = []  # names of the table modules filled so far
_chosen = {"language": None}


def _language(name):
    key = str(name).strip().lower()
    key = _ALIASES.get(key, key)
    if key not in LANGUAGES:
        raise ValueError("unknown language {!r}: choose one of {}".format(name, ", ".join(sorted(LANGUAGES))))
    return key


def _templates(language):
    module = importlib.import_module(LANGUAGES[language])
    return {k: v for k, v in vars(module).items() if k.isupper()}


def _chosen_language():
    if _chosen["language"] is None:
        setting = os.environ.get("VELMORO_LANGUAGE", "en")
        try:
            _chosen["language"] = _language(setting)
        except ValueError as exc:
            warnings.warn("VELMORO_LANGUAGE: {}; English is used".format(exc))
            _chosen["language"] = "en"
    return _chosen["language"]


def fill_table(module_name):
    """Fill a table module with the chosen language's templates; it is
    refilled whenever the language changes."""
    vars(sys.modules[module_name]).update(_templates(_chosen_language()))
    _tables.append(module_name)


def set_language(name):
    """Choose the language of every message table ("en" or "zh"; "english"
    and "chinese" also do). Raises ValueError for another name."""
    language = _language(name)
    templates = _templates(language)
    _chosen["language"] = language
    for module_name in _tables:
        vars(sys.modules[module_name]).update(templates)


def current_language():
    """The chosen language's name ("en" or "zh")."""
    return _chosen_language()
