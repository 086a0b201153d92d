"""Fixed loads for bench/instructions.sh, through the proxy on loopback.

  instructions.py requests PROXY_PORT ORIGIN_PORT N   N keep-alive GETs of /1k
  instructions.py bulk PROXY_PORT ORIGIN_PORT         one GET of /64m, read whole
"""
import socket
import sys

from httpwire import read_answer


def request(origin, path):
    return (f"GET http://127.0.0.1:{origin}{path} HTTP/1.1\r\n"
            f"Host: 127.0.0.1:{origin}\r\n\r\n").encode()


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
