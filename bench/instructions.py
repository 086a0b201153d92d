"""Fixed loads for bench/instructions.sh, through the proxy on loopback.

  instructions.py requests PROXY_PORT ORIGIN_PORT N   N keep-alive GETs of /1k
  instructions.py bulk PROXY_PORT ORIGIN_PORT         one GET of /64m, read whole
"""
import socket
import sys


def request(origin, path):
    return (f"GET http://127.0.0.1:{origin}{path} HTTP/1.1\r\n"
            f"Host: 127.0.0.1:{origin}\r\n\r\n").encode()


def read_answer(sock, pending):
    """Reads one answer with a Content-Length; returns the bytes after it."""
    while b"\r\n\r\n" not in pending:
        chunk = sock.recv(65536)
        if not chunk:
            raise SystemExit("the proxy closed the connection")
        pending += chunk
    head, _, rest = pending.partition(b"\r\n\r\n")
    if b" 200 " not in head.split(b"\r\n")[0]:
        raise SystemExit("unexpected answer: " + head.split(b"\r\n")[0].decode(errors="replace"))
    length = next(int(line.split(b":")[1]) for line in head.split(b"\r\n")
                  if line.lower().startswith(b"content-length:"))
    if len(rest) >= length:
        return rest[length:]
    remaining = length - len(rest)  # counted, not kept
    while remaining > 0:
        chunk = sock.recv(min(1 << 20, remaining))
        if not chunk:
            raise SystemExit("the answer broke off")
        remaining -= len(chunk)
    return b""


def main():
    kind, proxy, origin = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    sock = socket.create_connection(("127.0.0.1", proxy), timeout=120)
    if kind == "requests":
        pending = b""
        for _ in range(int(sys.argv[4])):
            sock.sendall(request(origin, "/1k"))
            pending = read_answer(sock, pending)
    else:
        sock.sendall(request(origin, "/64m"))
        read_answer(sock, b"")
    sock.close()


if __name__ == "__main__":
    main()
