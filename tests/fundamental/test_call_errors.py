"""A bad call of a published query raises the interpreter's own TypeError wording."""
import pytest

from velmoro.api.fundamental.fdmt import earnings


def is_pit(target_list, report_type=(), begin_date="", end_date="", publish_date_begin="", publish_date_end="",
           field=()):
    pass


@pytest.mark.parametrize(
    "args,kwargs",
    [((), {}), (([], 1, 2, 3, 4, 5, 6, 7), {}), (([],), {"x": 1}), (([],), {"target_list": []})],
)
def test_binding_errors_read_as_python_ones(args, kwargs):
    with pytest.raises(TypeError) as expected:
        is_pit(*args, **kwargs)
    with pytest.raises(TypeError) as got:
        earnings.is_pit(*args, **kwargs)
    assert str(got.value) == str(expected.value)
