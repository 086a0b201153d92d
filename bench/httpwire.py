"""Reading answers off a proxy connection, for the bench's Python clients."""


def read_answer(sock, pending):
    """Reads one 200 answer with a Content-Length, its body counted rather
    than kept; returns the bytes that followed it in `pending`."""
    while b"\r\n\r\n" not in pending:
        chunk = sock.recv(65536)
        if not chunk:
            raise ConnectionError("closed before the answer")
        pending += chunk
    head, _, rest = pending.partition(b"\r\n\r\n")
    status = head.split(b"\r\n")[0]
    if b" 200 " not in status + b" ":
        raise ConnectionError("answer: " + status[:60].decode(errors="replace"))
    length = 0
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            length = int(value)
    if len(rest) >= length:
        return rest[length:]
    remaining = length - len(rest)
    while remaining > 0:  # never past the answer's end
        chunk = sock.recv(min(1 << 20, remaining))
        if not chunk:
            raise ConnectionError("closed inside the answer")
        remaining -= len(chunk)
    return b""
