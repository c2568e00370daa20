"""Order books of a live run: ordinary orders, stop orders and trades.

A book keeps its records in insertion order under their ids. Calling a book
with a list of ids gives the records with those ids; calling it with no
argument gives all of them.
"""

__all__ = ["VMRealOrder", "VMOrderBook", "VMOrders", "VMStopOrders", "VMTrades"]


class VMRealOrder:
    """One live order: `order_idx` (its index in the run's order book),
    `order_id` (the terminal's id), `handle_idx` (index of the owning account)
    and `target_idx` (index of its target in the run, None when outside it)."""

    __slots__ = ("order_idx", "order_id", "handle_idx", "target_idx")

    def __init__(self, order_idx, order_id, handle_idx, target_idx):
        self.order_idx = order_idx
        self.order_id = order_id
        self.handle_idx = handle_idx
        self.target_idx = target_idx

    def __repr__(self):
        return "VMRealOrder(order_idx={!r}, order_id={!r}, handle_idx={!r}, target_idx={!r})".format(
            self.order_idx, self.order_id, self.handle_idx, self.target_idx
        )


class VMOrderBook:
    """Records under their ids, in insertion order.

    `snapshots` maps an account index to the ids of the records created for
    that account, in the order `snap_create_add` noted them.
    """

    def __init__(self):
        self._records = {}
        self.snapshots = {}

    def __call__(self, ids=None):
        """The records whose ids are in `ids` (in the order of `ids`, unknown
        ids skipped); all records without an argument."""
        if ids is None:
            return list(self._records.values())
        return [self._records[i] for i in ids if i in self._records]

    @property
    def size(self):
        """Number of records held."""
        return len(self._records)

    def __len__(self):
        return len(self._records)

    def __contains__(self, record_id):
        return record_id in self._records

    def keys(self):
        """The ids held, in insertion order."""
        return list(self._records)

    def append(self, record_id, record):
        """Add `record` under `record_id`; an id already held is refused."""
        if record_id in self._records:
            raise KeyError("id {!r} is already in the book".format(record_id))
        self._records[record_id] = record

    def snap_create_add(self, handle_idx, record_ids):
        """Note that the records `record_ids` were created for the account `handle_idx`."""
        self.snapshots.setdefault(handle_idx, []).extend(record_ids)


class VMOrders(VMOrderBook):
    """The run's ordinary orders, keyed by order id."""


class VMStopOrders(VMOrderBook):
    """The run's stop orders, keyed by stop-order id."""


class VMTrades(VMOrderBook):
    """The run's trades, keyed by trade id."""
