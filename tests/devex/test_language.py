"""One message language per process: every table read by the modules holds
the chosen language's templates, with the same keys and fields."""
import os
import string
import subprocess
import sys

import pytest

from velmoro.tframe import language
from velmoro.tframe.language import english
from velmoro.tframe.language.chinese import templates, text as runtime_table
from velmoro.tframe.language import text as channel_table


def fields(template):
    return sorted({f for _, f, _, _ in string.Formatter().parse(template) if f is not None})


def keys(module):
    return {k: getattr(module, k) for k in dir(module) if k.isupper()}


def test_both_languages_have_the_same_keys_and_fields():
    en, zh = keys(english), keys(templates)
    assert en.keys() == zh.keys()
    assert {k: fields(v) for k, v in en.items()} == {k: fields(v) for k, v in zh.items()}


@pytest.fixture
def restore_language():
    yield
    language.set_language("en")


def test_every_table_follows_the_chosen_language(restore_language):
    assert keys(channel_table) == keys(runtime_table) == keys(english)
    language.set_language("chinese")
    assert keys(channel_table) == keys(runtime_table) == keys(templates) and language.current_language() == "zh"
    with pytest.raises(ValueError, match="unknown language 'klingon'"):
        language.set_language("klingon")
    assert language.current_language() == "zh"


def test_the_setting_chooses_the_language_at_first_import():
    code = ("from velmoro.tframe.language import text; from velmoro.tframe.language.chinese import text as t;"
            "print(text.ERROR_IN_FRESHBAR == t.ERROR_IN_FRESHBAR)")
    for setting, expected in (("zh", templates.ERROR_IN_FRESHBAR), ("en", english.ERROR_IN_FRESHBAR)):
        proc = subprocess.run([sys.executable, "-c", code + ";print(text.ERROR_IN_FRESHBAR)"], capture_output=True,
                              text=True, env=dict(os.environ, VELMORO_LANGUAGE=setting))
        assert proc.stdout.splitlines() == ["True", expected], proc.stderr


@pytest.mark.parametrize("name", ["en", "zh"])
def test_the_bar_line_stays_at_debug_in_either_language(restore_language, name):
    import logging
    from velmoro.tframe.utils.logger import framework_log, write_log

    language.set_language(name)
    table = english if name == "en" else templates
    bar = table.LOG_REALFRESH_BAR.format(FreshNum=17, Pos="2024-01-03 10:00:00")
    records = []
    handler = logging.Handler(logging.DEBUG)
    handler.emit = records.append
    framework_log.addHandler(handler)
    level = framework_log.level
    framework_log.setLevel(logging.DEBUG)  # clears the logger's cached answers too
    try:
        for message, level_name in ((bar, "info"), (bar, "warn"), ("bar " + bar, "info"), (17, "info")):
            write_log(message, level=level_name)
    finally:
        framework_log.removeHandler(handler)
        framework_log.setLevel(level)
    assert [r.levelname for r in records] == ["DEBUG", "WARNING", "INFO", "INFO"]
