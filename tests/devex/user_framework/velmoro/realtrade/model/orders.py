class _Book(dict):
    def __call__(self, ids=None):
        return list(self.values()) if ids is None else [self[i] for i in ids if i in self]


class VMOrders(_Book):
    pass


class VMStopOrders(_Book):
    pass


class VMTrades(_Book):
    pass


class VMRealOrder:
    pass
