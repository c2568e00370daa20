import pytest

from velmoro.realtrade.model.orders import VMRealOrder
from velmoro.tframe.runtypesbase import Account


class ListBook:
    """A book that may hold several records under one id; notes every query."""

    def __init__(self, records):
        self.records = records
        self.queries = []

    def __call__(self, ids=None):
        self.queries.append(ids)
        return list(self.records) if ids is None else [r for r in self.records if r.order_id in ids]


@pytest.fixture
def accounts(run):
    var, env = run
    var.g_VelmoroAccounts = [Account(1001, 0), Account(2002, 1), Account(3003, 2)]
    return var, env


def order(idx, order_id, handle_idx):
    return VMRealOrder(order_idx=idx, order_id=order_id, handle_idx=handle_idx, target_idx=0)


@pytest.mark.parametrize(
    "records, expected_handle, expected_order",
    [
        ([], None, None),
        ([order(0, "A", 1)], 2002, 0),
        ([order(0, "B", 0), order(1, "A", 2)], 3003, 1),
        ([order(0, "A", 1), order(1, "A", 2)], None, 0),  # several: no owner, the first record
    ],
)
@pytest.mark.parametrize("book, method", [("g_VMOrders", "order_id_relevant_account_handle"),
                                          ("g_VMStopOrders", "stop_order_id_relevant_account_handle")])
def test_owner_handle_needs_exactly_one_record(accounts, records, expected_handle, expected_order, book, method):
    var, env = accounts
    setattr(var, book, ListBook(records))
    assert getattr(env, method)("A") == expected_handle
    assert getattr(var, book).queries == [["A"]]


@pytest.mark.parametrize(
    "records, expected_order",
    [([], None), ([order(0, "A", 1)], 0), ([order(0, "B", 0), order(1, "A", 2)], 1), ([order(0, "A", 1), order(1, "A", 2)], 0)],
)
def test_get_order_by_order_id_gives_the_first_match(accounts, records, expected_order):
    var, env = accounts
    var.g_VMOrders = ListBook(records)
    found = env.get_order_by_order_id("A")
    assert (found.order_idx if found else None) == expected_order


def test_stop_orders_are_looked_up_in_their_own_book(accounts):
    var, env = accounts
    var.g_VMStopOrders.append("S1", order(0, "S1", 2))
    assert env.stop_order_id_relevant_account_handle("S1") == 3003
    assert env.order_id_relevant_account_handle("S1") is None


def test_real_book_maps_ids_to_handles(accounts):
    var, env = accounts
    for i, (oid, acc) in enumerate([("O1", 0), ("O2", 1), ("O3", 0)]):
        var.g_VMOrders.append(oid, order(i, oid, acc))
    assert [env.order_id_relevant_account_handle(o) for o in ("O1", "O2", "O3", "O4")] == [1001, 2002, 1001, None]
    assert env.get_order_by_order_id("O2") is var.g_VMOrders(["O2"])[0]


@pytest.mark.parametrize("handle, expected", [(1001, ["O1", "O3"]), (2002, ["O2"]), (3003, []), (9999, [])])
def test_account_order_ids_in_book_order_without_stop_orders(accounts, handle, expected):
    var, env = accounts
    for i, (oid, acc) in enumerate([("O1", 0), ("O2", 1), ("O3", 0)]):
        var.g_VMOrders.append(oid, order(i, oid, acc))
    var.g_VMStopOrders.append("S1", order(0, "S1", 0))
    assert env.account_handle_relevant_all_order_id(handle) == expected


def test_unknown_account_does_not_read_the_book(accounts):
    var, env = accounts
    var.g_VMOrders = ListBook([order(0, "A", 0)])
    assert env.account_handle_relevant_all_order_id(4242) == []
    assert var.g_VMOrders.queries == []


class Growing:
    """An order whose handle index, when read, adds a later order to the same list."""

    def __init__(self, records, order_id, handle_idx, later=None):
        self.records, self.order_id, self._handle_idx, self.later = records, order_id, handle_idx, later

    @property
    def handle_idx(self):
        if self.later is not None:
            self.records.append(self.later)
        return self._handle_idx


class Loose:
    """A handle index that equals every account index, as its own == says."""

    def __eq__(self, other):
        return True


def test_account_order_ids_see_the_list_as_python_walks_it(accounts):
    var, env = accounts
    records = []
    records.append(Growing(records, "G1", 0, later=Growing(records, "G2", 0)))
    records.append(order(1, "L1", Loose()))
    records.append(order(2, "X1", 1))
    var.g_VMOrders = lambda: records  # the book hands out its live list
    assert env.account_handle_relevant_all_order_id(1001) == ["G1", "L1", "G2"]
