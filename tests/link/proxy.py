"""A loopback TCP proxy that misbehaves on demand: it delays, blackholes,
cuts each connection after a number of bytes, or cuts the open ones at once;
it keeps what clients sent."""
import select
import socket
import threading
import time


def loopback_listener(backlog):
    """A listening socket on a free loopback port, and its link address."""
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(backlog)
    return listener, "tcp://127.0.0.1:{}".format(listener.getsockname()[1])


class Proxy:
    def __init__(self, target):
        self.target = target
        self.delay = 0.0
        self.blackhole = False
        self.cut_after = None  # bytes towards the client before a connection is cut
        self.sent_by_clients = bytearray()
        self.listener, self.address = loopback_listener(16)
        self.closed = False
        self.open = set()  # the client ends of the connections relayed
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while not self.closed:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            server = socket.create_connection(self.target, timeout=5)
            threading.Thread(target=self._relay, args=(client, server), daemon=True).start()

    def _relay(self, client, server):
        to_client = 0
        self.open.add(client)
        try:
            while not self.closed:
                ready = select.select([client, server], [], [], 0.05)[0]
                if self.blackhole:
                    continue  # nothing passes, both sides keep waiting
                for source in ready:
                    data = source.recv(65536)
                    if not data:
                        return
                    if self.delay:
                        time.sleep(self.delay)
                    if source is client:
                        self.sent_by_clients += data
                        server.sendall(data)
                    else:
                        if self.cut_after is not None and to_client + len(data) > self.cut_after:
                            client.sendall(data[:self.cut_after - to_client])
                            return
                        to_client += len(data)
                        client.sendall(data)
        except OSError:
            pass
        finally:
            self.open.discard(client)
            client.close()
            server.close()

    def cut(self):
        """End every open connection (both sides see it end)."""
        for client in list(self.open):
            try:
                client.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    def close(self):
        self.closed = True
        self.listener.close()
