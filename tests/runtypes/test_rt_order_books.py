import pytest

from velmoro.realtrade.model.orders import VMOrders, VMRealOrder, VMStopOrders, VMTrades


@pytest.mark.parametrize("book_class", [VMOrders, VMStopOrders, VMTrades])
def test_book_contract(book_class):
    book = book_class()
    orders = [VMRealOrder(order_idx=i, order_id=oid, handle_idx=i % 2, target_idx=None) for i, oid in enumerate("CAB")]
    for o in orders:
        book.append(o.order_id, o)
    assert book.size == 3 and book.keys() == ["C", "A", "B"]
    assert book() == orders
    assert book(["B", "X", "C"]) == [orders[2], orders[0]]
    assert book([]) == [] and book(["X"]) == []
    with pytest.raises(KeyError):
        book.append("A", orders[0])
    assert book.size == 3


def test_snapshots_note_created_orders_per_account():
    book = VMOrders()
    book.snap_create_add(1, ["A"])
    book.snap_create_add(1, ["B", "C"])
    book.snap_create_add(0, [])
    assert book.snapshots == {1: ["A", "B", "C"], 0: []}


def test_real_order_takes_exactly_its_four_fields():
    o = VMRealOrder(order_idx=3, order_id="X", handle_idx=1, target_idx=None)
    assert (o.order_idx, o.order_id, o.handle_idx, o.target_idx) == (3, "X", 1, None)
    with pytest.raises(TypeError):
        VMRealOrder(order_idx=3, order_id="X", handle_idx=1)
