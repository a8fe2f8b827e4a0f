#!/usr/bin/python3
# A console of the Vantor agent's protocol speaking from a chosen loopback address, inside the
# systemd container: the agent must answer only the addresses its consoleAllow names.
#   console_probe.py FROM id|close-all|discover   prints what came back ("none" for nothing)
import socket
import sys

COMMAND_PORT, DISCOVERY_PORT, REPLY_PORT = 36872, 36869, 36870


def command(source, request):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.settimeout(5)
    s.bind((source, 0))
    try:
        s.connect(("127.0.0.1", COMMAND_PORT))
    except OSError as e:
        return "refused" if isinstance(e, ConnectionRefusedError) else "error %s" % e
    s.sendall(request)
    received = b""
    try:
        while True:
            chunk = s.recv(4096)
            if not chunk:
                break
            received += chunk
    except socket.timeout:
        return "held open"
    except ConnectionResetError:
        pass  # closed with the request unread: no answer either
    finally:
        s.close()
    return repr(received) if received else "none"


def discover(source):
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((source, REPLY_PORT))
    listener.listen(1)
    listener.settimeout(4)
    out = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    out.bind((source, 0))
    out.sendto(b"list\0", ("127.0.0.1", DISCOVERY_PORT))
    try:
        reply, _ = listener.accept()
    except socket.timeout:
        return "none"
    reply.settimeout(4)
    data = reply.recv(4096)
    reply.close()
    return repr(data)


def main():
    source, what = sys.argv[1], sys.argv[2]
    if what == "id":
        print(command(source, b"id\0"))
    elif what == "close-all":
        print(command(source, b"\x06"))
    elif what == "discover":
        print(discover(source))
    else:
        sys.exit("unknown request " + what)


main()
